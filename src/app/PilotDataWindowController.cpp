#include "app/PilotDataWindowController.h"

#include "app/MaxLengthFormatter.h"
#include "export/PilotDataForm.h"
#include "ui_PilotDataWindowController.h"

#include <QLabel>
#include <QPalette>

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
        connect(edit, &QLineEdit::textChanged, this, &PilotDataWindowController::markUnstorableCharacters);
        if (edit->isReadOnly()) {
            // A value on the sheet's own background, without a frame, and out of the tab
            // order: nothing suggests it could be typed into. It can still be selected.
            edit->setFrame(false);
            QPalette palette = edit->palette();
            palette.setColor(QPalette::Base, palette.color(QPalette::Window));
            edit->setPalette(palette);
            edit->setFocusPolicy(Qt::ClickFocus);
        }
    }
    QPalette warning = m_ui->unstorableLabel->palette();
    warning.setColor(QPalette::WindowText, QColor(0xb0, 0x1c, 0x1c));
    m_ui->unstorableLabel->setPalette(warning);
    markUnstorableCharacters();
}

QString PilotDataWindowController::unstorableCharactersMessage() const
{
    QStringList parts;
    int characters = 0;
    for (const PilotDataFormField& field : pilotDataFormFields()) {
        const QString found = MaxLengthFormatter::unstorableCharacters(editFor(field.field)->text());
        if (found.isEmpty())
            continue;
        QStringList quoted;
        for (qsizetype i = 0; i < found.size(); ++i) {
            const qsizetype length = found[i].isHighSurrogate() && i + 1 < found.size() ? 2 : 1;
            const QString character = found.mid(i, length);
            quoted << (character == QChar(0) ? QStringLiteral("NUL") : QStringLiteral("“%1”").arg(character));
            ++characters;
            i += length - 1;
        }
        // The label's text without its colon and mnemonic: "Site", "Glider ID".
        const QLabel* label = qobject_cast<QLabel*>(m_ui->formLayout->labelForField(editFor(field.field)));
        QString name = label ? label->text() : QString::fromLatin1(field.name);
        name.remove(QLatin1Char('&'));
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        parts << QStringLiteral("%1 in %2").arg(quoted.join(QStringLiteral(", ")), name);
    }
    if (parts.isEmpty())
        return QString();
    return QStringLiteral("%1 cannot be stored by the instrument, which keeps only plain letters, digits and "
                          "punctuation (ASCII). Replace %2 to save.")
        .arg(parts.join(QStringLiteral("; ")), characters == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

void PilotDataWindowController::markUnstorableCharacters()
{
    for (const PilotDataFormField& field : pilotDataFormFields()) {
        QLineEdit* edit = editFor(field.field);
        const bool marked = !MaxLengthFormatter::unstorableCharacters(edit->text()).isEmpty();
        // The field itself is marked too, so the eye finds which one the line means.
        edit->setStyleSheet(marked ? QStringLiteral("QLineEdit { border: 2px solid #b01c1c; border-radius: 3px; }") : QString());
    }
    const QString message = unstorableCharactersMessage();
    m_ui->unstorableLabel->setText(message);
    m_ui->unstorableLabel->setVisible(!message.isEmpty());
    m_ui->okButton->setEnabled(message.isEmpty());
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
    // What the instrument cannot store would be lost on the way: it is pointed out
    // until replaced.
    if (!unstorableCharactersMessage().isEmpty())
        return;
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
