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
// the cursor or the highlight repaints only them. Hovering moves the cursor and says
// which fix it is on; the flight view passes that on to the map. Below the altitude a
// small graph on the same time axis may show the vario or the ground speed.
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

    // The small graph under the altitude: nothing, the vertical speed (m/s) or the
    // ground speed (km/h), one value per sample.
    enum class Graph { None, Vario, GroundSpeed };

    explicit BarogramView(QWidget* parent = nullptr);

    void setSamples(std::vector<Sample> samples);
    // Several flights drawn as lines in their own colours (a comparison), the samples'
    // flight among them: the samples' own curve is then not drawn, the time axis and the
    // altitude axis span them all, and the cursor stays on the samples. Empty: one
    // flight, its curve filled below.
    struct Series {
        std::vector<Sample> samples;
        QColor colour;
        QString label;
    };
    void setOverlaySeries(std::vector<Series> series);
    const std::vector<Series>& overlaySeries() const { return m_overlays; }
    void setBands(std::vector<Band> bands);
    const std::vector<Band>& bands() const { return m_bands; }
    // The debrief's stretches (thermals, failed attempts), under the other bands and
    // without labels: kept apart from them, so that an airspace check leaves them.
    void setPhaseBands(std::vector<Band> bands);
    const std::vector<Band>& phaseBands() const { return m_phaseBands; }
    // One span drawn strongly over the curve (the stretch chosen in the flight's list);
    // nothing clears it. Cheap: the cached curve is kept.
    void setHighlight(std::optional<Band> band);
    const std::optional<Band>& highlight() const { return m_highlight; }
    void setGraph(Graph graph, std::vector<double> values);
    Graph graph() const { return m_graph; }
    void setMarks(std::vector<Mark> marks);
    const std::vector<Mark>& marks() const { return m_marks; }
    // The altitude axis and the cursor's label in the units; the clock along the
    // bottom at the offset from UTC (0: UTC, else the take-off's local time).
    void setUnits(UnitSystem units, int clockOffsetMinutes);
    // The ground under each sample, in the samples' altitude datum (metres), NaN where
    // no terrain covers: drawn as a brown area under the curve, and the cursor's label
    // says the height above it. Empty: no ground.
    void setGround(std::vector<double> ground);
    const std::vector<double>& ground() const { return m_ground; }
    // The fix under the cursor; nothing hides it.
    void setCursorIndex(std::optional<std::size_t> index);
    std::optional<std::size_t> cursorIndex() const { return m_cursor; }

    QSize sizeHint() const override { return { 800, 180 }; }
    QSize minimumSizeHint() const override { return { 200, 90 }; }

    // What the cursor's label says: "12:41:07  1,840 m  AGL 412 m  +1.2 m/s"; empty
    // without a cursor.
    QString cursorText() const;
    // The fix nearest to a widget x, for the tests and the hover.
    std::optional<std::size_t> indexAtX(int x) const;
    // The altitude's plot and the small graph's (empty without one), in the widget.
    QRect plotArea() const;
    QRect graphArea() const;
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
    QRect fullArea() const;
    // The axis from the lowest sample or ground to the highest sample, in round steps.
    void setAltitudeRange();
    double yOfGraph(double value) const;
    void renderGraph(QPainter& painter);
    double yOfAltitude(double altitude) const;
    void renderCurve();
    void paintLabels(QPainter& painter);
    // The first and last moment on the time axis: the samples', widened by the overlays.
    std::int64_t firstTime() const;
    std::int64_t lastTime() const;
    bool hasTimeAxis() const;

    std::vector<Sample> m_samples;
    std::vector<Series> m_overlays;
    std::vector<Band> m_bands;
    std::vector<double> m_ground;
    std::vector<Band> m_phaseBands;
    std::optional<Band> m_highlight;
    Graph m_graph { Graph::None };
    std::vector<double> m_graphValues;
    double m_graphLow { 0 };
    double m_graphHigh { 1 };
    std::vector<Mark> m_marks;
    std::optional<std::size_t> m_cursor;
    UnitSystem m_units { UnitSystem::Metric };
    std::int64_t m_clockOffset { 0 }; // seconds
    int m_lowest { 0 };
    int m_highest { 1 };
    QPixmap m_curve; // everything but the cursor, at the widget's size
};

} // namespace corvex::library
