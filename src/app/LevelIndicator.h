#pragma once

#include <QWidget>

namespace corvex {

// A horizontal level gauge in the shape of a battery. The value is a double between 0
// and maxValue (set in the window layout); values outside that range are kept as given
// and only drawn clamped, so the caller's arithmetic stays visible to tests.
class LevelIndicator final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double maxValue READ maxValue WRITE setMaxValue)
    Q_PROPERTY(double doubleValue READ doubleValue WRITE setDoubleValue)

public:
    explicit LevelIndicator(QWidget* parent = nullptr);

    double maxValue() const { return m_maxValue; }
    void setMaxValue(double maxValue);
    double doubleValue() const { return m_value; }
    void setDoubleValue(double value);

    // The filled share, 0 to 1.
    double fraction() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_maxValue { 10 };
    double m_value { 0 };
};

} // namespace corvex
