#pragma once

#include <QDialog>

#include <optional>

class QLabel;
class QProgressBar;

namespace corvex {

// The please-wait sheet: modal to the main window, one label, no buttons. It cannot be
// dismissed by the user (Escape does nothing); the command that showed it hides it.
class PleaseWaitSheet final : public QDialog {
    Q_OBJECT

public:
    explicit PleaseWaitSheet(QWidget* parent);

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
    QLabel* m_label;
    QLabel* m_detail;
    QProgressBar* m_progress;
};

} // namespace corvex
