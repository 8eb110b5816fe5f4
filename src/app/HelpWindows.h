#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

class QMessageBox;
class QTextBrowser;

namespace corvex {

class PreferencesStore;

// The manual page's scdoc source as HTML for the help window: the sections as
// headings, *bold* and _underlined_ words, lists, indented definitions and code blocks.
QString manualPageHtml(const QString& scdoc);

// What the About box says.
struct AboutFacts {
    QString version;
    QString licence;
    // The text each configured tile server asks to be shown beside its tiles.
    QStringList mapAttributions;
    QString geographySource;
};

// The licence of the package (resources/debian/copyright), in short.
QString programLicence();
// Where the map's offline coastlines and borders come from.
QString offlineGeographySource();
// The attribution of every map type whose tiles come from a configured server, each
// once, as the map's base layer reads them from the preferences.
QStringList mapTileAttributions(const PreferencesStore& preferences);

// The About box's text (rich text): the name, the version, the licence and the map
// data's sources.
QString aboutText(const AboutFacts& facts);
// The About box over the given window, not yet shown.
std::unique_ptr<QMessageBox> makeAboutBox(QWidget* parent, const AboutFacts& facts);

// The manual page in a window of its own beside the main window.
class HelpWindow final : public QDialog {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent);
    QTextBrowser* browser() const { return m_browser; }

private:
    QTextBrowser* m_browser;
};

} // namespace corvex
