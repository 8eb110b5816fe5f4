#include "app/HelpWindows.h"

#include "map/qt/MapBaseLayer.h"
#include "platform/HttpClient.h"
#include "platform/qt/PreferencesStore.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace corvex {

namespace {

QString inlineMarkup(const QString& text)
{
    QString html = text.toHtmlEscaped();
    // scdoc's emphasis: *bold* and _underlined_, never inside a word (ID_MM_DEVICE_IGNORE).
    static const QRegularExpression bold(QStringLiteral("(?<![\\w*])\\*(\\S(?:.*?\\S)?)\\*(?![\\w*])"));
    static const QRegularExpression underline(QStringLiteral("(?<![\\w])_(\\S(?:.*?\\S)?)_(?![\\w])"));
    html.replace(bold, QStringLiteral("<b>\\1</b>"));
    html.replace(underline, QStringLiteral("<i>\\1</i>"));
    return html;
}

int leadingTabs(const QString& line)
{
    int tabs = 0;
    while (tabs < line.size() && line[tabs] == QLatin1Char('\t'))
        ++tabs;
    return tabs;
}

} // namespace

QString manualPageHtml(const QString& scdoc)
{
    QStringList lines = scdoc.split(QLatin1Char('\n'));
    QString html;
    QStringList paragraph;
    int paragraphIndent = 0;
    bool listItem = false;
    bool inList = false;
    const auto flush = [&] {
        if (paragraph.isEmpty())
            return;
        const QString text = inlineMarkup(paragraph.join(QLatin1Char(' ')));
        if (listItem) {
            html += QStringLiteral("<li>%1</li>\n").arg(text);
        } else {
            html += paragraphIndent > 0
                ? QStringLiteral("<p style=\"margin-left:%1px\">%2</p>\n").arg(paragraphIndent * 28).arg(text)
                : QStringLiteral("<p>%1</p>\n").arg(text);
        }
        paragraph.clear();
    };
    const auto closeList = [&] {
        if (inList)
            html += QStringLiteral("</ul>\n");
        inList = false;
    };
    bool first = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (first) {
            first = false;
            // The header: "corvex-vario(1) "Corvex Vario" "User Commands"".
            static const QRegularExpression header(QStringLiteral("^([\\w.-]+\\(\\d\\w*\\))(\\s|$)"));
            if (const auto match = header.match(line); match.hasMatch()) {
                html += QStringLiteral("<h1>%1</h1>\n").arg(match.captured(1).toHtmlEscaped());
                continue;
            }
        }
        if (line.trimmed().startsWith(QLatin1String("```"))) {
            flush();
            closeList();
            QString code;
            for (++i; i < lines.size() && !lines[i].trimmed().startsWith(QLatin1String("```")); ++i)
                code += lines[i].toHtmlEscaped() + QLatin1Char('\n');
            html += QStringLiteral("<pre>%1</pre>\n").arg(code);
            continue;
        }
        if (line.trimmed().isEmpty()) {
            flush();
            listItem = false;
            continue;
        }
        if (line.startsWith(QLatin1String("#"))) {
            flush();
            closeList();
            const int level = line.startsWith(QLatin1String("## ")) ? 3 : 2;
            html += QStringLiteral("<h%1>%2</h%1>\n").arg(level).arg(line.section(QLatin1Char(' '), 1).toHtmlEscaped());
            continue;
        }
        const int tabs = leadingTabs(line);
        const QString content = line.mid(tabs);
        if (content.startsWith(QLatin1String("- "))) {
            flush();
            if (!inList)
                html += QStringLiteral("<ul>\n");
            inList = true;
            listItem = true;
            paragraph << content.mid(2).trimmed();
            continue;
        }
        if (listItem && line.startsWith(QLatin1String("  "))) {
            paragraph << content.trimmed();
            continue;
        }
        if (listItem || tabs != paragraphIndent) {
            flush();
            listItem = false;
        }
        if (!listItem)
            closeList();
        paragraphIndent = tabs;
        paragraph << content.trimmed();
    }
    flush();
    closeList();
    return html;
}

QString programLicence()
{
    return QStringLiteral("Copyright 2026 The Corvex Vario developers. Proprietary licence: all rights reserved. "
                          "The program may be used with Corvex Vario instruments and copied unchanged; any other use "
                          "needs the written permission of the copyright holders.");
}

QString offlineGeographySource()
{
    return QStringLiteral("Offline coastlines and borders: the GSHHG shoreline data set, low resolution "
                          "(Debian package gmt-gshhg-low), under the LGPL 3 or later.");
}

namespace {

// The base layer only reads its templates here; it never paints, so it sends nothing.
class NoHttpClient final : public HttpClient {
public:
    std::unique_ptr<HttpTransfer> send(HttpRequest, HttpCallbacks) override { return nullptr; }
};

} // namespace

QStringList mapTileAttributions(const PreferencesStore& preferences)
{
    NoHttpClient http;
    MapBaseLayer layer(http, preferences, MapBaseLayer::Options {});
    QStringList attributions;
    for (MapType type : { MapType::Standard, MapType::Satellite, MapType::Hybrid }) {
        layer.setMapType(type);
        const QString attribution = layer.attribution().trimmed();
        if (!layer.urlTemplate().isEmpty() && !attribution.isEmpty() && !attributions.contains(attribution))
            attributions << attribution;
    }
    return attributions;
}

QString aboutText(const AboutFacts& facts)
{
    QString text = QStringLiteral("<h3>Corvex Vario</h3><p>Desktop companion of the Corvex Vario glider variometer.</p>"
                                  "<p>Version %1</p><p>%2</p>")
                       .arg(facts.version.toHtmlEscaped(), facts.licence.toHtmlEscaped());
    text += QStringLiteral("<p>Map data:");
    if (facts.mapAttributions.isEmpty())
        text += QStringLiteral(" no tile server is configured; the map shows its offline geography only.");
    for (const QString& attribution : facts.mapAttributions)
        text += QStringLiteral("<br>Map tiles: %1").arg(attribution.toHtmlEscaped());
    text += QStringLiteral("<br>%1</p>").arg(facts.geographySource.toHtmlEscaped());
    return text;
}

std::unique_ptr<QMessageBox> makeAboutBox(QWidget* parent, const AboutFacts& facts)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setWindowTitle(QStringLiteral("About Corvex Vario"));
    box->setTextFormat(Qt::RichText);
    box->setText(aboutText(facts));
    box->setIconPixmap(QIcon::fromTheme(QStringLiteral("org.corvex.Vario")).pixmap(64, 64));
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

HelpWindow::HelpWindow(QWidget* parent)
    : QDialog(parent, Qt::Window)
    , m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("Corvex Vario Help"));
    QFile page(QStringLiteral(":/man/corvex-vario.1.scd"));
    const QString source = page.open(QIODevice::ReadOnly) ? QString::fromUtf8(page.readAll()) : QString();
    m_browser->setOpenExternalLinks(true);
    m_browser->setHtml(source.isEmpty() ? QStringLiteral("<p>The manual page is missing; run <b>man corvex-vario</b>.</p>")
                                        : manualPageHtml(source));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addWidget(buttons);
    resize(720, 640);
}

} // namespace corvex
