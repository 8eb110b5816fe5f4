#include "app/PleaseWaitSheet.h"

#include "platform/EventLoop.h"
#include "platform/qt/QtEventLoopTurner.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace corvex {

PleaseWaitSheet::PleaseWaitSheet(QWidget* parent, EventLoopTurner* eventLoop)
    : QDialog(parent, Qt::Sheet | Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_eventLoop(eventLoop)
    , m_label(new QLabel(this))
    , m_detail(new QLabel(this))
    , m_progress(new QProgressBar(this))
{
    setObjectName(QStringLiteral("pleaseWaitSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Please wait"));
    m_label->setObjectName(QStringLiteral("pleaseWaitSheetLabel"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    m_label->setMinimumWidth(280);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->addWidget(m_label);
    m_progress->setObjectName(QStringLiteral("pleaseWaitSheetProgress"));
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);
    m_detail->setObjectName(QStringLiteral("pleaseWaitSheetDetail"));
    m_detail->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_detail);
    clearProgress();
}

void PleaseWaitSheet::showWithText(const QString& text)
{
    if (m_label->text() != text)
        clearProgress();
    m_label->setText(text);
    adjustSize();
    show();
}

void PleaseWaitSheet::stepStarted(const OperationStep& step)
{
    showWithText(QString::fromStdString(step.text));
    // The next progress is shown at once, whenever the last turn was.
    m_lastTurn = {};
    turnEventLoop();
}

void PleaseWaitSheet::progressed(std::optional<double> fraction, const std::string& detail)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastTurn < std::chrono::milliseconds(50))
        return;
    m_lastTurn = now;
    setProgress(fraction, QString::fromStdString(detail));
    adjustSize();
    turnEventLoop();
}

void PleaseWaitSheet::ended()
{
    hide();
}

void PleaseWaitSheet::turnEventLoop()
{
    if (m_eventLoop)
        m_eventLoop->runEventLoopFor(0);
    else
        QtEventLoopTurner().runEventLoopFor(0);
}

void PleaseWaitSheet::setProgress(std::optional<double> fraction, const QString& detail)
{
    constexpr int steps = 1000;
    if (fraction) {
        m_progress->setRange(0, steps);
        m_progress->setValue(static_cast<int>(std::clamp(*fraction, 0.0, 1.0) * steps));
    } else {
        m_progress->setRange(0, 0); // a bar that moves on its own
    }
    m_progress->show();
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
}

void PleaseWaitSheet::clearProgress()
{
    m_progress->hide();
    m_detail->hide();
    m_detail->clear();
}

void PleaseWaitSheet::reject()
{
}

void PleaseWaitSheet::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

} // namespace corvex
