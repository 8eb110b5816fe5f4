#pragma once

#include "platform/OperationContext.h"

#include <QDialog>

#include <chrono>
#include <optional>

class QLabel;
class QProgressBar;

namespace corvex {

class EventLoopTurner;

// The please-wait sheet: modal to the main window, one label, no buttons. It cannot be
// dismissed by the user (Escape does nothing); the command that showed it hides it.
//
// It is the progress sink of the main window's long operations: a step's text is its
// label, the progress its bar and detail line, and the end hides it. It turns the event
// loop when a step begins and, between the steps of a transfer, at most every 50 ms,
// so that it paints and moves from the operation's start while the main thread reads
// the instrument.
class PleaseWaitSheet final : public QDialog, public ProgressSink {
    Q_OBJECT

public:
    // Without an event loop of the program's, a nested QEventLoop turns.
    explicit PleaseWaitSheet(QWidget* parent, EventLoopTurner* eventLoop = nullptr);

    // A new text starts without the progress of what came before.
    void showWithText(const QString& text);

    // ProgressSink.
    void stepStarted(const OperationStep& step) override;
    void progressed(std::optional<double> fraction, const std::string& detail) override;
    void ended() override;

    QLabel* pleaseWaitSheetLabel() const { return m_label; }
    QLabel* detailLabel() const { return m_detail; }
    QProgressBar* progressBar() const { return m_progress; }

    // A long transfer's progress under the text: the share done (a moving bar while
    // it is not known) and a line such as "120 KB received".
    void setProgress(std::optional<double> fraction, const QString& detail);
    // Back to the text alone, as every sheet starts.
    void clearProgress();

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void turnEventLoop();

    EventLoopTurner* m_eventLoop;
    std::chrono::steady_clock::time_point m_lastTurn;
    QLabel* m_label;
    QLabel* m_detail;
    QProgressBar* m_progress;
};

} // namespace corvex
