#include "app/SaveFolders.h"

#include "platform/qt/PreferencesStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace corvex {

QString SaveFolders::preferenceKey(SaveFolderKind kind)
{
    switch (kind) {
    case SaveFolderKind::Flights:
        return QStringLiteral("lastSaveFolderFlights");
    case SaveFolderKind::LogBook:
        return QStringLiteral("lastSaveFolderLogBook");
    case SaveFolderKind::Airspaces:
        return QStringLiteral("lastSaveFolderAirspaces");
    }
    return QString();
}

QString SaveFolders::fallbackFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString SaveFolders::startFolder(SaveFolderKind kind) const
{
    if (m_preferences) {
        const QString remembered = m_preferences->stringValue(preferenceKey(kind));
        if (!remembered.isEmpty() && QDir::isAbsolutePath(remembered) && QFileInfo(remembered).isDir())
            return remembered;
    }
    return fallbackFolder();
}

void SaveFolders::rememberFolder(SaveFolderKind kind, const QString& folder)
{
    if (m_preferences && !folder.isEmpty())
        m_preferences->setValue(preferenceKey(kind), QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
}

void SaveFolders::rememberFolderOfFile(SaveFolderKind kind, const QString& file)
{
    rememberFolder(kind, QFileInfo(file).absolutePath());
}

QString displayPath(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const QString home = QDir::cleanPath(QDir::homePath());
    if (home.size() > 1 && (clean == home || clean.startsWith(home + QLatin1Char('/'))))
        return QLatin1Char('~') + clean.mid(home.size());
    return clean;
}

namespace {

QString formatName(TrackLogFileFormat format)
{
    return format == TrackLogFileFormat::Kml ? QStringLiteral("KML") : QStringLiteral("IGC");
}

QString flights(std::size_t count)
{
    return count == 1 ? QStringLiteral("1 flight") : QStringLiteral("%1 flights").arg(count);
}

} // namespace

QString flightsSavedStatus(std::size_t saved, std::size_t notSaved, TrackLogFileFormat format, const QString& folder)
{
    QString text = saved == 0 ? QStringLiteral("No flight was saved in %1").arg(displayPath(folder))
                              : QStringLiteral("Saved %1 as %2 in %3").arg(flights(saved), formatName(format), displayPath(folder));
    if (notSaved > 0)
        text += QStringLiteral("; %1 could not be saved").arg(flights(notSaved));
    return text + QLatin1Char('.');
}

QString flightSavedStatus(TrackLogFileFormat format, const QString& file)
{
    return QStringLiteral("Saved 1 flight as %1 in %2.").arg(formatName(format), displayPath(file));
}

QString logBookSavedStatus(const QString& file)
{
    return QStringLiteral("Saved the log book as CSV in %1.").arg(displayPath(file));
}

QString notWrittenStatus(const QString& file)
{
    return QStringLiteral("Could not write %1: nothing was saved.").arg(displayPath(file));
}

} // namespace corvex
