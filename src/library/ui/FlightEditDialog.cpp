#include "library/ui/FlightEditDialog.h"

#include "library/LibraryTable.h"
#include "library/ui/LibraryTableModel.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace corvex::library {

FlightEditDialog::FlightEditDialog(const LibraryFlight& flight, QWidget* parent)
    : QDialog(parent)
    , m_flight(flight)
    , m_glider(new QLineEdit(QString::fromStdString(gliderName(flight.glider))))
    , m_pilot(new QLineEdit(QString::fromStdString(flight.pilot)))
    , m_site(new QLineEdit(QString::fromStdString(flight.site)))
    , m_comment(new QPlainTextEdit(QString::fromStdString(flight.comment)))
    , m_scoredTrack(new QComboBox)
{
    setWindowTitle(tr("Edit Flight"));
    m_glider->setPlaceholderText(tr("No glider named"));
    m_site->setPlaceholderText(tr("Take-off site"));
    m_comment->setTabChangesFocus(true);
    m_comment->setMinimumHeight(fontMetrics().height() * 4);
    m_scoredTrack->addItem(tr("As the rule set chooses"), QString());
    m_scoredTrack->addItem(tr("Take-off to landing"), QStringLiteral("flight"));
    m_scoredTrack->addItem(tr("The whole track (hike and fly)"), QStringLiteral("whole"));
    m_scoredTrack->setCurrentIndex(std::max(0, m_scoredTrack->findData(QString::fromStdString(flight.scoredTrack))));

    auto* form = new QFormLayout;
    form->addRow(tr("Glider:"), m_glider);
    form->addRow(tr("Pilot:"), m_pilot);
    form->addRow(tr("Site:"), m_site);
    form->addRow(tr("Comment:"), m_comment);
    form->addRow(tr("Scored track:"), m_scoredTrack);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* title = new QLabel(tr("Flight of %1 (UTC). The IGC file stays as it is; the library keeps these beside it.")
                                 .arg(takeoffText(flight.takeoff)));
    title->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(std::max(sizeHint().width(), 480), sizeHint().height());
}

FlightEdit FlightEditDialog::edit() const
{
    FlightEdit edit;
    const auto changed = [](const QString& now, const std::string& before) -> std::optional<std::string> {
        const std::string text = now.trimmed().toStdString();
        if (text == before)
            return std::nullopt;
        return text;
    };
    edit.glider = changed(m_glider->text(), gliderName(m_flight.glider));
    edit.pilot = changed(m_pilot->text(), m_flight.pilot);
    edit.site = changed(m_site->text(), m_flight.site);
    // The comment keeps its lines; only the ends are trimmed.
    edit.comment = changed(m_comment->toPlainText(), m_flight.comment);
    const std::string track = m_scoredTrack->currentData().toString().toStdString();
    if (track != m_flight.scoredTrack)
        edit.scoredTrack = track;
    return edit;
}

std::optional<FlightEdit> askFlightEdit(const LibraryFlight& flight, QWidget* parent)
{
    FlightEditDialog dialog(flight, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const FlightEdit edit = dialog.edit();
    if (!edit.glider && !edit.pilot && !edit.site && !edit.comment && !edit.scoredTrack)
        return std::nullopt;
    return edit;
}

} // namespace corvex::library
