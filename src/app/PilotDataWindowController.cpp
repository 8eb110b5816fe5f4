#include "app/PilotDataWindowController.h"

#include "app/MaxLengthFormatter.h"
#include "export/PilotDataForm.h"
#include "ui_PilotDataWindowController.h"

namespace corvex {

PilotDataWindowController::PilotDataWindowController(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::PilotDataWindowController>())
{
    m_ui->setupUi(this);
    // A sheet: modal to the main window only.
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    connect(m_ui->okButton, &QPushButton::clicked, this, &PilotDataWindowController::okButton);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &PilotDataWindowController::cancelButton);
    windowDidLoad();
}

PilotDataWindowController::~PilotDataWindowController() = default;

QLineEdit* PilotDataWindowController::editFor(PilotDataField field) const
{
    switch (field) {
    case PilotDataField::Pilot:
        return m_ui->pilotEdit;
    case PilotDataField::FlightRecorderSerial:
        return m_ui->frSerialNoEdit;
    case PilotDataField::GliderType:
        return m_ui->gliderTypeEdit;
    case PilotDataField::GliderId:
        return m_ui->gliderIdEdit;
    case PilotDataField::CompetitionClass:
        return m_ui->competitionClassEdit;
    case PilotDataField::CompetitionId:
        return m_ui->competitionIdEdit;
    case PilotDataField::Site:
        return m_ui->siteEdit;
    case PilotDataField::PilotInfo:
        return m_ui->pilotInfoEdit;
    }
    return nullptr;
}

void PilotDataWindowController::windowDidLoad()
{
    for (const PilotDataFormField& field : pilotDataFormFields()) {
        QLineEdit* edit = editFor(field.field);
        edit->setValidator(MaxLengthFormatter::formatterWithLength(static_cast<int>(field.longestText), edit));
    }
}

void PilotDataWindowController::updateFormWithPilotData(const PilotData& pilotData)
{
    m_pilotDataAsRead = pilotData;
    const PilotDataForm form = PilotDataForm::fromPilotData(pilotData);
    for (const PilotDataFormField& field : pilotDataFormFields())
        editFor(field.field)->setText(QString::fromLatin1(form.text(field.field)));
}

PilotData PilotDataWindowController::getPilotDataFromForm() const
{
    PilotDataForm form;
    for (const PilotDataFormField& field : pilotDataFormFields())
        form.text(field.field) = editFor(field.field)->text().toLatin1().toStdString();
    return pilotDataFromForm(form, m_pilotDataAsRead);
}

void PilotDataWindowController::okButton()
{
    done(1);
}

void PilotDataWindowController::cancelButton()
{
    done(0);
}

void PilotDataWindowController::reject()
{
    cancelButton();
}

} // namespace corvex
