#pragma once

#include "base/Units.h"

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

class QPainter;

namespace corvex::library {

// Altitude over time, painted by us: one envelope per pixel column, so a 36,000-fix
// flight costs what a 1,000-pixel one does, and the curve is cached so that moving
// the cursor repaints only the cursor. Hovering moves the cursor and says which fix
// it is on; the flight view passes that on to the map.
class BarogramView final : public QWidget {
    Q_OBJECT
public:
    struct Sample {
        std::int64_t time { 0 }; // UTC seconds
        int altitude { 0 }; // metres
    };
    // A time span drawn as a band behind the curve (an airspace crossing), its label
    // written at the band's top.
    struct Band {
        std::int64_t begin { 0 };
        std::int64_t end { 0 };
        QColor colour;
        QString label;
    };
    // A moment drawn as a vertical line with a label at its top (a turnpoint).
    struct Mark {
        std::int64_t time { 0 };
        QString label;
        QColor colour;
    };

    explicit BarogramView(QWidget* parent = nullptr);

    void setSamples(std::vector<Sample> samples);
    void setBands(std::vector<Band> bands);
    const std::vector<Band>& bands() const { return m_bands; }
    void setMarks(std::vector<Mark> marks);
    const std::vector<Mark>& marks() const { return m_marks; }
    // The altitude axis and the cursor's label in the units; the clock along the
    // bottom at the offset from UTC (0: UTC, else the take-off's local time).
    void setUnits(UnitSystem units, int clockOffsetMinutes);
    // The fix under the cursor; nothing hides it.
    void setCursorIndex(std::optional<std::size_t> index);
    std::optional<std::size_t> cursorIndex() const { return m_cursor; }

    QSize sizeHint() const override { return { 800, 180 }; }
    QSize minimumSizeHint() const override { return { 200, 90 }; }

    // The fix nearest to a widget x, for the tests and the hover.
    std::optional<std::size_t> indexAtX(int x) const;
    // The widget x of a moment; the plot's left edge without two samples.
    double xOfTime(std::int64_t time) const;

signals:
    void cursorMoved(std::size_t index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect plotArea() const;
    double yOfAltitude(double altitude) const;
    void renderCurve();
    void paintLabels(QPainter& painter);

    std::vector<Sample> m_samples;
    std::vector<Band> m_bands;
    std::vector<Mark> m_marks;
    std::optional<std::size_t> m_cursor;
    UnitSystem m_units { UnitSystem::Metric };
    std::int64_t m_clockOffset { 0 }; // seconds
    int m_lowest { 0 };
    int m_highest { 1 };
    QPixmap m_curve; // everything but the cursor, at the widget's size
};

} // namespace corvex::library
