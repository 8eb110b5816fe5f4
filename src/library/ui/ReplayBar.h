#pragma once

#include "map/Replay.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QToolButton;

namespace corvex::library {

// The controls of a replay: play/pause, the speed (×1 to ×200), a time slider that
// moves with the time and seeks when dragged, steps to the previous and next thermal,
// the clock, and whether the map follows the glider. A timer of about 30 ms moves the
// time by the wall time measured since its last tick times the speed; the end of the
// span pauses.
class ReplayBar final : public QWidget {
    Q_OBJECT
public:
    static constexpr int tickMilliseconds = 30;
    static constexpr int speeds[] = { 1, 2, 5, 10, 20, 50, 100, 200 };

    explicit ReplayBar(QWidget* parent = nullptr);
    ~ReplayBar() override;

    void setSpan(std::int64_t begin, std::int64_t end);      // UTC seconds
    std::int64_t spanBegin() const { return m_begin; }
    std::int64_t spanEnd() const { return m_end; }
    void setThermalStarts(std::vector<std::int64_t> starts); // any order
    const std::vector<std::int64_t>& thermalStarts() const { return m_thermalStarts; }
    void setClockOffsetMinutes(int minutes);                 // for the clock text
    double time() const;
    void setTime(double time);                               // emits timeChanged
    void play();
    void pause();
    bool isPlaying() const;
    void setSpeed(int factor);
    int speed() const;
    // Moves time by wall seconds × speed as the timer would (tests drive it).
    void advance(double wallSeconds);

    // Steps to the next (previous) thermal's start; false when there is none.
    bool nextThermal();
    bool previousThermal();

    // Whether the map is to follow the glider: on by default, off when the pilot moves
    // the map (setFollowing(false)), on again by its check box or the next play.
    bool isFollowing() const;
    void setFollowing(bool following);

    // The clock as shown, "HH:MM:SS" in the offset's local time.
    QString clockText() const;

    QToolButton& playButton() { return *m_playButton; }
    QComboBox& speedBox() { return *m_speedBox; }
    QSlider& slider() { return *m_slider; }
    bool isTicking() const { return m_timer.isActive(); }

signals:
    void timeChanged(double time);
    void playingChanged(bool playing);
    void followingChanged(bool following);

private:
    void tick();
    void showTime();
    void showPlaying();

    ReplayClock m_clock;
    std::int64_t m_begin { 0 };
    std::int64_t m_end { 0 };
    std::vector<std::int64_t> m_thermalStarts;
    int m_offsetMinutes { 0 };
    QTimer m_timer;
    QElapsedTimer m_wall;
    bool m_showing { false };

    QToolButton* m_playButton { nullptr };
    QToolButton* m_previousButton { nullptr };
    QToolButton* m_nextButton { nullptr };
    QComboBox* m_speedBox { nullptr };
    QSlider* m_slider { nullptr };
    QLabel* m_clockLabel { nullptr };
    QCheckBox* m_followBox { nullptr };
};

} // namespace corvex::library
