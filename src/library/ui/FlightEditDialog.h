#pragma once

#include "library/LibraryFlight.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace corvex::library {

// The pilot's words about one flight: glider, pilot, site, comment, and which part of
// the track the contests score. The file is never changed; the library keeps the
// edit beside it.
class FlightEditDialog final : public QDialog {
    Q_OBJECT
public:
    explicit FlightEditDialog(const LibraryFlight& flight, QWidget* parent = nullptr);

    // The fields the pilot changed, and only those: an untouched glider stays the
    // file's own, so a later better copy of the file still names it.
    FlightEdit edit() const;

    QLineEdit& gliderEdit() { return *m_glider; }
    QLineEdit& pilotEdit() { return *m_pilot; }
    QLineEdit& siteEdit() { return *m_site; }
    QPlainTextEdit& commentEdit() { return *m_comment; }
    QComboBox& scoredTrackChoice() { return *m_scoredTrack; }

private:
    LibraryFlight m_flight;
    QLineEdit* m_glider;
    QLineEdit* m_pilot;
    QLineEdit* m_site;
    QPlainTextEdit* m_comment;
    QComboBox* m_scoredTrack;
};

// Asks for the edit over `parent`; nothing when the pilot cancels or changes nothing.
std::optional<FlightEdit> askFlightEdit(const LibraryFlight& flight, QWidget* parent);

} // namespace corvex::library
