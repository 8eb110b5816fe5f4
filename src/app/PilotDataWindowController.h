#pragma once

#include "device/PilotData.h"

#include <QDialog>

#include <memory>

class QLineEdit;

namespace Ui {
class PilotDataWindowController;
}

namespace corvex {

// The pilot-data sheet over the main window, from its layout. It shows a record and
// builds the record to send back; reading and writing the instrument is the
// controller's (AppDelegate) business. It ends with return code 1 for OK, 0 for Cancel.
class PilotDataWindowController final : public QDialog {
    Q_OBJECT

public:
    explicit PilotDataWindowController(QWidget* parent = nullptr);
    ~PilotDataWindowController() override;

    Ui::PilotDataWindowController& ui() { return *m_ui; }

    // Installs the length and ASCII limits on every field, and gives a read-only field
    // the look of a value rather than of a field to type into.
    void windowDidLoad();

    // What the line under the form says about characters the instrument cannot store
    // ("“ü” in Site cannot be stored by the instrument..."), empty when there are none.
    // OK is disabled meanwhile.
    QString unstorableCharactersMessage() const;

    // Fills the eight fields from the record and keeps it: the record sent back carries
    // its flight-recorder serial number.
    void updateFormWithPilotData(const PilotData& pilotData);
    PilotData getPilotDataFromForm() const;

public slots:
    void okButton();
    void cancelButton();
    // Escape and the window's close button cancel.
    void reject() override;

private:
    QLineEdit* editFor(PilotDataField field) const;
    void markUnstorableCharacters();

    std::unique_ptr<Ui::PilotDataWindowController> m_ui;
    PilotData m_pilotDataAsRead;
};

} // namespace corvex
