#pragma once

#include "platform/AlertPresenter.h"

#include <QPointer>
#include <QWidget>

namespace corvex {

// Alerts as modal message boxes over the main window: the message as the text, the
// informative text below it, the buttons in the order given.
class MessageBoxAlertPresenter final : public AlertPresenter {
public:
    void setParentWindow(QWidget* window) { m_parent = window; }
    int showAlert(const Alert& alert) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace corvex
