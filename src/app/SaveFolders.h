#pragma once

#include "export/TrackLogExport.h"

#include <QString>

#include <cstddef>

namespace corvex {

class PreferencesStore;

// What a save panel saves: each kind starts in the folder its last save went to.
enum class SaveFolderKind { Flights, LogBook, Airspaces };

// The last folder used per kind, in the preferences ("lastSaveFolderFlights",
// "lastSaveFolderLogBook", "lastSaveFolderAirspaces"), so it outlives the program. A
// remembered folder that is gone (an unplugged stick, a deleted folder) gives way to
// the user's documents folder, as if none had been remembered.
class SaveFolders {
public:
    explicit SaveFolders(PreferencesStore* preferences)
        : m_preferences(preferences)
    {
    }

    static QString preferenceKey(SaveFolderKind kind);
    // The documents folder, or the home folder where there is none.
    static QString fallbackFolder();

    QString startFolder(SaveFolderKind kind) const;
    // Remembers the folder of a saved file, or the folder an all-flights export made
    // its own folder in.
    void rememberFolder(SaveFolderKind kind, const QString& folder);
    void rememberFolderOfFile(SaveFolderKind kind, const QString& file);

private:
    PreferencesStore* m_preferences;
};

// A path for the status line: the home folder as "~".
QString displayPath(const QString& path);

// The status line after a save: "Saved 3 flights as IGC in ~/Flights/CorvexVario IGC",
// what could not be saved after a semicolon.
QString flightsSavedStatus(std::size_t saved, std::size_t notSaved, TrackLogFileFormat format, const QString& folder);
QString flightSavedStatus(TrackLogFileFormat format, const QString& file);
QString logBookSavedStatus(const QString& file);
QString notWrittenStatus(const QString& file);

} // namespace corvex
