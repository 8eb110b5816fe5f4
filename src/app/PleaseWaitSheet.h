#pragma once

#include <QDialog>

class QLabel;

namespace corvex {

// The please-wait sheet: modal to the main window, one label, no buttons. It cannot be
// dismissed by the user (Escape does nothing); the command that showed it hides it.
class PleaseWaitSheet final : public QDialog {
    Q_OBJECT

public:
    explicit PleaseWaitSheet(QWidget* parent);

    QLabel* pleaseWaitSheetLabel() const { return m_label; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_label;
};

} // namespace corvex
