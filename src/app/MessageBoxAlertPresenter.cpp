#include "app/MessageBoxAlertPresenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>

namespace corvex {

int MessageBoxAlertPresenter::showAlert(const Alert& alert)
{
    // Over the main window, as its transient: never hidden under it. Without one (before
    // it exists), over whatever window is active.
    QWidget* parent = m_parent ? m_parent.data() : QApplication::activeWindow();
    QMessageBox box(parent);
    box.setIcon(alert.kind == Alert::Kind::Information ? QMessageBox::Information : QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Corvex Vario"));
    box.setText(QString::fromStdString(alert.message));
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    std::vector<QAbstractButton*> buttons;
    const std::vector<std::string> captions = alert.buttons.empty() ? std::vector<std::string> { "Ok" } : alert.buttons;
    for (std::size_t i = 0; i < captions.size(); ++i) {
        // The first button is the affirmative answer; the alert says which is the default.
        auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box.addButton(QString::fromStdString(captions[i]), role));
    }
    const int defaultIndex = alert.defaultButton >= 0 && alert.defaultButton < static_cast<int>(buttons.size()) ? alert.defaultButton : 0;
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons[static_cast<std::size_t>(defaultIndex)]));
    // The window manager may have raised the main window above the new box when the
    // alert came from a click there; once shown, the box goes to the front.
    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i])
            return static_cast<int>(i);
    }
    // Closed without a button (Escape on a one-button alert): its only answer.
    return buttons.size() == 1 ? 0 : static_cast<int>(buttons.size()) - 1;
}

} // namespace corvex
