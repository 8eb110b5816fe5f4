#include "library/ui/ReplayBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace corvex::library {

ReplayBar::ReplayBar(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_previousButton = new QToolButton(this);
    m_previousButton->setText(tr("◀ Thermal"));
    m_previousButton->setToolTip(tr("Previous thermal"));
    m_playButton = new QToolButton(this);
    m_playButton->setToolTip(tr("Play or pause the replay (Space)"));
    m_nextButton = new QToolButton(this);
    m_nextButton->setText(tr("Thermal ▶"));
    m_nextButton->setToolTip(tr("Next thermal"));
    m_speedBox = new QComboBox(this);
    m_speedBox->setToolTip(tr("Replay speed"));
    for (const int factor : speeds)
        m_speedBox->addItem(QStringLiteral("×%1").arg(factor), factor);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setToolTip(tr("Replay time"));
    m_clockLabel = new QLabel(this);
    m_clockLabel->setMinimumWidth(m_clockLabel->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 4);
    m_followBox = new QCheckBox(tr("Follow glider"), this);
    m_followBox->setChecked(true);

    layout->addWidget(m_previousButton);
    layout->addWidget(m_playButton);
    layout->addWidget(m_nextButton);
    layout->addWidget(m_speedBox);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_clockLabel);
    layout->addWidget(m_followBox);

    m_timer.setInterval(tickMilliseconds);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ReplayBar::tick);
    connect(m_playButton, &QToolButton::clicked, this, [this] { isPlaying() ? pause() : play(); });
    connect(m_previousButton, &QToolButton::clicked, this, [this] { previousThermal(); });
    connect(m_nextButton, &QToolButton::clicked, this, [this] { nextThermal(); });
    connect(m_speedBox, &QComboBox::currentIndexChanged, this,
        [this](int index) { m_clock.setSpeed(m_speedBox->itemData(index).toInt()); });
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (!m_showing)
            setTime(static_cast<double>(m_begin) + value);
    });
    connect(m_followBox, &QCheckBox::toggled, this, &ReplayBar::followingChanged);

    setSpeed(1);
    showPlaying();
    showTime();
}

ReplayBar::~ReplayBar() = default;

void ReplayBar::setSpan(std::int64_t begin, std::int64_t end)
{
    m_begin = begin;
    m_end = std::max(begin, end);
    m_clock.setSpan(static_cast<double>(m_begin), static_cast<double>(m_end));
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setRange(0, static_cast<int>(std::min<std::int64_t>(m_end - m_begin, INT32_MAX)));
        m_slider->setPageStep(60);
        m_slider->setSingleStep(10);
    }
    if (!m_clock.isPlaying())
        m_timer.stop();
    showPlaying();
    showTime();
}

void ReplayBar::setThermalStarts(std::vector<std::int64_t> starts)
{
    std::sort(starts.begin(), starts.end());
    m_thermalStarts = std::move(starts);
    m_previousButton->setEnabled(!m_thermalStarts.empty());
    m_nextButton->setEnabled(!m_thermalStarts.empty());
}

void ReplayBar::setClockOffsetMinutes(int minutes)
{
    m_offsetMinutes = minutes;
    showTime();
}

double ReplayBar::time() const
{
    return m_clock.time();
}

void ReplayBar::setTime(double time)
{
    m_clock.seek(time);
    showTime();
    emit timeChanged(m_clock.time());
}

void ReplayBar::play()
{
    if (m_clock.isPlaying())
        return;
    m_clock.play();
    if (!m_clock.isPlaying())
        return;
    setFollowing(true);
    m_wall.start();
    m_timer.start();
    showPlaying();
    emit playingChanged(true);
    // Playing from the end started again at the beginning.
    showTime();
    emit timeChanged(m_clock.time());
}

void ReplayBar::pause()
{
    m_timer.stop();
    if (!m_clock.isPlaying())
        return;
    m_clock.pause();
    showPlaying();
    emit playingChanged(false);
}

bool ReplayBar::isPlaying() const
{
    return m_clock.isPlaying();
}

void ReplayBar::setSpeed(int factor)
{
    const auto* found = std::find(std::begin(speeds), std::end(speeds), factor);
    if (found == std::end(speeds))
        return;
    m_speedBox->setCurrentIndex(static_cast<int>(found - std::begin(speeds)));
    m_clock.setSpeed(factor);
}

int ReplayBar::speed() const
{
    return static_cast<int>(m_clock.speed());
}

void ReplayBar::advance(double wallSeconds)
{
    if (!m_clock.isPlaying())
        return;
    const double before = m_clock.time();
    m_clock.advance(wallSeconds);
    if (m_clock.time() != before) {
        showTime();
        emit timeChanged(m_clock.time());
    }
    if (!m_clock.isPlaying()) {
        m_timer.stop();
        showPlaying();
        emit playingChanged(false);
    }
}

bool ReplayBar::nextThermal()
{
    const std::optional<double> moment = nextMoment(m_thermalStarts, time());
    if (!moment)
        return false;
    setTime(*moment);
    return true;
}

bool ReplayBar::previousThermal()
{
    const std::optional<double> moment = previousMoment(m_thermalStarts, time());
    if (!moment)
        return false;
    setTime(*moment);
    return true;
}

bool ReplayBar::isFollowing() const
{
    return m_followBox->isChecked();
}

void ReplayBar::setFollowing(bool following)
{
    m_followBox->setChecked(following);
}

QString ReplayBar::clockText() const
{
    const auto seconds = static_cast<std::int64_t>(std::floor(m_clock.time())) + std::int64_t { m_offsetMinutes } * 60;
    const std::int64_t ofDay = ((seconds % 86400) + 86400) % 86400;
    return QStringLiteral("%1:%2:%3")
        .arg(ofDay / 3600, 2, 10, QLatin1Char('0'))
        .arg(ofDay / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(ofDay % 60, 2, 10, QLatin1Char('0'));
}

void ReplayBar::tick()
{
    const double wall = static_cast<double>(m_wall.nsecsElapsed()) / 1e9;
    m_wall.restart();
    advance(wall);
}

void ReplayBar::showTime()
{
    m_showing = true;
    m_slider->setValue(static_cast<int>(std::lround(m_clock.time() - static_cast<double>(m_begin))));
    m_showing = false;
    m_clockLabel->setText(clockText());
}

void ReplayBar::showPlaying()
{
    m_playButton->setText(m_clock.isPlaying() ? QStringLiteral("❚❚") : QStringLiteral("▶"));
}

} // namespace corvex::library
