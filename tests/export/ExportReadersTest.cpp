// What `corvex download` and `corvex logbook` write, and the flights' GPX and KML
// tracks, read back by programs we did not write: the npm igc-parser
// (tools/validators), Debian's GPSBabel and xmllint. The flights are the shared real
// IGC files that the virtual instrument serves, so every exported flight can be held
// against the file it came from.
#include "VirtualInstrumentProcess.h"
#include "analysis/FlightKmz.h"
#include "flights/FlightExport.h"

#include "support/QtTestHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <set>
#include <map>
#include <optional>

using corvex::testing::VirtualInstrumentProcess;

namespace {

const QString validatorsDirectory = QStringLiteral(CORVEX_SOURCE_DIR "/tools/validators");

using ProcessRun = corvex::testing::ProgramRun;
using corvex::testing::runProgram;

ProcessRun runCorvex(const VirtualInstrumentProcess& instrument, QStringList arguments)
{
    arguments.prepend(QString::fromStdString(instrument.portPath()));
    arguments.prepend("--port");
    return runProgram(QStringLiteral(CORVEX_BUILD_DIR "/corvex"), arguments);
}

// The readers are installed by scripts/install-deps and `npm ci` in scripts/test; a
// machine without them skips, and says which one is missing.
std::optional<QString> missingReader(bool needIgcParser, bool needXmllint)
{
    if (QStandardPaths::findExecutable("gpsbabel").isEmpty())
        return QStringLiteral("gpsbabel is not installed (scripts/install-deps installs it)");
    if (needXmllint && QStandardPaths::findExecutable("xmllint").isEmpty())
        return QStringLiteral("xmllint is not installed (scripts/install-deps installs libxml2-utils)");
    if (needIgcParser) {
        if (QStandardPaths::findExecutable("node").isEmpty())
            return QStringLiteral("node is not installed (scripts/install-deps installs nodejs)");
        if (!QFileInfo::exists(validatorsDirectory + "/node_modules/igc-parser/package.json"))
            return QStringLiteral("igc-parser is not installed: run npm ci in tools/validators");
    }
    return std::nullopt;
}

QJsonObject igcSummary(const QString& path)
{
    const ProcessRun run = runProgram("node", { validatorsDirectory + "/igc-summary.js", path });
    EXPECT_EQ(run.exitCode, 0) << path.toStdString() << ": " << run.err.toStdString();
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

// GPSBabel's view of a file: its GPX track points, in order, as (time, lat, lon).
struct BabelPoint {
    QString time;
    double latitude { 0 };
    double longitude { 0 };
};

std::vector<BabelPoint> gpsbabelTrackPoints(const QString& format, const QString& path)
{
    const ProcessRun run = runProgram("gpsbabel", { "-i", format, "-f", path, "-o", "gpx", "-F", "-" });
    EXPECT_EQ(run.exitCode, 0) << "gpsbabel " << path.toStdString() << ": " << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("rror")) << run.err.toStdString();
    std::vector<BabelPoint> points;
    static const QRegularExpression trkpt(
        R"re(<trkpt lat="([-0-9.]+)" lon="([-0-9.]+)">(?:(?!</trkpt>)[\s\S])*?(?:<time>([^<]*)</time>)?(?:(?!</trkpt>)[\s\S])*</trkpt>)re");
    for (auto match = trkpt.globalMatch(run.out); match.hasNext();) {
        const auto m = match.next();
        points.push_back({ m.captured(3), m.captured(1).toDouble(), m.captured(2).toDouble() });
    }
    return points;
}

QStringList filesIn(const QString& folder, const QString& pattern)
{
    QStringList files;
    for (const QFileInfo& info : QDir(folder).entryInfoList({ pattern }, QDir::Files, QDir::Name))
        files << info.absoluteFilePath();
    return files;
}

// The shared flights as the parser sees them, keyed by first fix time and fix count.
std::map<QString, QJsonObject> sourceFlights(const QString& folder = CORVEX_TESTDATA_DIR "/igc")
{
    std::map<QString, QJsonObject> flights;
    for (const QString& file : filesIn(folder, "*")) {
        if (!file.endsWith(".igc", Qt::CaseInsensitive))
            continue;
        QJsonObject summary = igcSummary(file);
        summary.insert("path", file);
        flights[summary["firstFixTime"].toString() + "/" + QString::number(summary["fixes"].toInt())] = summary;
    }
    return flights;
}

QJsonObject sourceOf(const std::map<QString, QJsonObject>& sources, const QJsonObject& exported)
{
    const auto found = sources.find(exported["firstFixTime"].toString() + "/" + QString::number(exported["fixes"].toInt()));
    return found == sources.end() ? QJsonObject {} : found->second;
}

void expectSameFix(const QJsonObject& ours, const QJsonObject& theirs, const char* which)
{
    // Our B records carry thousandths of a minute; a source with extra digits (LAD/LOD)
    // differs by less than one of them.
    EXPECT_EQ(ours["time"].toString(), theirs["time"].toString()) << which;
    EXPECT_NEAR(ours["latitude"].toDouble(), theirs["latitude"].toDouble(), 1.7e-5) << which;
    EXPECT_NEAR(ours["longitude"].toDouble(), theirs["longitude"].toDouble(), 1.7e-5) << which;
}

// Both readers on every IGC file of an export: no error, and the same fixes and times as
// the flight it came from.
void checkIgcExport(const QStringList& files, const std::map<QString, QJsonObject>& sources,
    const std::function<void(const QJsonObject& ours, const QJsonObject& source)>& headerCheck)
{
    ASSERT_EQ(files.size(), static_cast<qsizetype>(sources.size()));
    std::set<QString> matched;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const QJsonObject ours = igcSummary(file);
        EXPECT_TRUE(ours["errors"].toArray().isEmpty());
        const QJsonObject source = sourceOf(sources, ours);
        ASSERT_FALSE(source.isEmpty()) << "no shared flight has this file's fixes";
        matched.insert(source["path"].toString());
        EXPECT_EQ(ours["lastFixTime"].toString(), source["lastFixTime"].toString());
        EXPECT_EQ(ours["date"].toString(), source["date"].toString());
        expectSameFix(ours["firstFix"].toObject(), source["firstFix"].toObject(), "first fix");
        expectSameFix(ours["lastFix"].toObject(), source["lastFix"].toObject(), "last fix");
        headerCheck(ours, source);

        const auto babel = gpsbabelTrackPoints("igc", file);
        const auto babelSource = gpsbabelTrackPoints("igc", source["path"].toString());
        EXPECT_EQ(babel.size(), babelSource.size());
        if (!babel.empty() && !babelSource.empty()) {
            EXPECT_EQ(babel.front().time, babelSource.front().time);
            EXPECT_EQ(babel.back().time, babelSource.back().time);
            EXPECT_NEAR(babel.front().latitude, babelSource.front().latitude, 1.7e-5);
            EXPECT_NEAR(babel.front().longitude, babelSource.front().longitude, 1.7e-5);
        }
    }
    EXPECT_EQ(matched.size(), sources.size()) << "every shared flight is exported once";
}

// Both readers on every KML file: well-formed XML, and one track point per fix.
void checkKmlExport(const QStringList& files, const std::map<QString, QJsonObject>& sources)
{
    ASSERT_EQ(files.size(), static_cast<qsizetype>(sources.size()));
    std::multiset<int> expectedCounts;
    for (const auto& [key, source] : sources)
        expectedCounts.insert(source["fixes"].toInt());
    std::multiset<int> counts;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const ProcessRun lint = runProgram("xmllint", { "--noout", file });
        EXPECT_EQ(lint.exitCode, 0) << lint.err.toStdString();
        const auto babel = gpsbabelTrackPoints("kml", file);
        counts.insert(static_cast<int>(babel.size()));
        for (const BabelPoint& point : babel) {
            ASSERT_LE(std::fabs(point.latitude), 90.0);
            ASSERT_LE(std::fabs(point.longitude), 180.0);
        }
    }
    EXPECT_EQ(counts, expectedCounts);
}

class ExportReaders : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (auto missing = missingReader(true, true))
            GTEST_SKIP() << missing->toStdString();
        ASSERT_TRUE(out.isValid());
        sources = sourceFlights();
        ASSERT_EQ(sources.size(), 6u);
    }

    QTemporaryDir out;
    std::map<QString, QJsonObject> sources;
};

} // namespace

TEST_F(ExportReaders, FirstPathIgcCarriesThePilotDataAndEveryFix)
{
    VirtualInstrumentProcess::Options options;
    options.model = "lark";
    options.firmwareVersion = 1350; // writes no IGC text of its own
    VirtualInstrumentProcess instrument(options);
    const ProcessRun set = runCorvex(instrument,
        { "pilot", "--set", "pilot=Jane Doe", "--set", "glider-type=Ventus 2c", "--set", "glider-id=D-1234", "--set",
            "competition-id=XY", "--set", "competition-class=Club", "--set", "site=Grenchen" });
    ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();

    const ProcessRun run = runCorvex(instrument, { "download", "all", "--format", "igc", "--out", out.path() });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList files = filesIn(out.path(), "*.igc");
    QStringList written = run.out.split('\n', Qt::SkipEmptyParts);
    written.sort();
    EXPECT_EQ(written, files);
    checkIgcExport(files, sources, [](const QJsonObject& ours, const QJsonObject&) {
        EXPECT_EQ(ours["pilot"].toString(), "Jane Doe");
        EXPECT_EQ(ours["gliderType"].toString(), "Ventus 2c");
        EXPECT_EQ(ours["registration"].toString(), "D-1234");
        EXPECT_EQ(ours["callsign"].toString(), "XY");
        EXPECT_EQ(ours["competitionClass"].toString(), "Club");
        EXPECT_EQ(ours["site"].toString(), "Grenchen");
        EXPECT_EQ(ours["security"].toString().size(), 68);
    });
    // First-path names: date of the H record, recorder serial, flight number mod 100.
    static const QRegularExpression name(R"(^20\d{1,2}-\d{1,2}-\d{1,2}-XCV-[^/]+-\d\d\.igc$)");
    for (const QString& file : files)
        EXPECT_TRUE(name.match(QFileInfo(file).fileName()).hasMatch()) << file.toStdString();
}

TEST_F(ExportReaders, SecondPathIgcIsTheInstrumentsOwnText)
{
    VirtualInstrumentProcess instrument; // a Wren, firmware 2405: the text is its own
    const ProcessRun run = runCorvex(instrument, { "download", "all", "--format", "igc", "--out", out.path() });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    checkIgcExport(filesIn(out.path(), "*.igc"), sources, // the instrument names them .IGC
        [](const QJsonObject& ours, const QJsonObject& source) {
            for (const char* key : { "pilot", "gliderType", "registration", "loggerManufacturer", "loggerId" })
                EXPECT_EQ(ours[key], source[key]) << key;
        });
}

TEST_F(ExportReaders, KmlOnBothPathsIsWellFormedWithOnePointPerFix)
{
    for (const auto& [model, firmware] : { std::pair { "lark", 1350 }, std::pair { "wren", 2405 } }) {
        SCOPED_TRACE(model);
        VirtualInstrumentProcess::Options options;
        options.model = model;
        options.firmwareVersion = static_cast<std::uint16_t>(firmware);
        VirtualInstrumentProcess instrument(options);
        QTemporaryDir folder;
        const ProcessRun run = runCorvex(instrument, { "download", "all", "--format=kml", "--out", folder.path() });
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        checkKmlExport(filesIn(folder.path(), "*.kml"), sources);
    }
}

TEST(ExportCli, LogBookCsvHasTheHeadersNineteenColumnsOnEveryRow)
{
    VirtualInstrumentProcess instrument;
    QTemporaryDir folder;
    const QString path = folder.path() + "/book.csv";
    const ProcessRun run = runCorvex(instrument, { "logbook", "--out", path });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    ASSERT_TRUE(csv.endsWith('\n'));
    EXPECT_FALSE(csv.contains('\r'));
    const QList<QByteArray> lines = csv.chopped(1).split('\n');
    ASSERT_EQ(lines.size(), 7); // the header and six flights
    EXPECT_TRUE(lines.front().startsWith("flightnumber,date,time,duration,"));
    for (const QByteArray& line : lines)
        EXPECT_EQ(line.split(',').size(), 19) << line.toStdString();
}

TEST(ExportCli, OneFlightPerPathAndNamesThatNeverCollide)
{
    // 105 flights of one day: flights 5 and 105 share a suggested name.
    QTemporaryDir library;
    for (int i = 1; i <= 105; ++i)
        ASSERT_TRUE(QFile::link(CORVEX_TESTDATA_DIR "/igc/20241007TZN.igc",
            library.path() + QString::asprintf("/flight%03d.igc", i)));
    VirtualInstrumentProcess::Options options;
    options.model = "lark";
    options.firmwareVersion = 1350;
    options.igcDirectory = library.path().toStdString();
    VirtualInstrumentProcess instrument(options);

    QTemporaryDir folder;
    const ProcessRun all = runCorvex(instrument, { "download", "all", "--format", "kml", "--out", folder.path() });
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    const QStringList files = filesIn(folder.path(), "*.kml");
    EXPECT_EQ(files.size(), 105);
    EXPECT_EQ(all.out.split('\n', Qt::SkipEmptyParts).size(), 105);

    const ProcessRun one = runCorvex(instrument, { "download", "7", "--format", "igc", "--out", folder.path() });
    ASSERT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_TRUE(one.out.trimmed().endsWith("-07.igc")) << one.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(one.out.trimmed()));

    const ProcessRun unknown = runCorvex(instrument, { "download", "999", "--format", "igc", "--out", folder.path() });
    EXPECT_EQ(unknown.exitCode, 3);
    EXPECT_TRUE(unknown.err.contains("Error dowloading track log")) << unknown.err.toStdString();
}

TEST(ExportCli, UsageAndPilotDataLimits)
{
    VirtualInstrumentProcess instrument;
    EXPECT_EQ(runCorvex(instrument, { "download", "all" }).exitCode, 1);
    EXPECT_EQ(runCorvex(instrument, { "download", "x", "--format", "igc" }).exitCode, 1);
    EXPECT_EQ(runCorvex(instrument, { "download", "1", "--format", "gpx" }).exitCode, 1);

    const ProcessRun tooLong = runCorvex(instrument, { "pilot", "--set", "pilot=" + QString(64, 'p') });
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_TRUE(tooLong.err.contains("at most 63 fit")) << tooLong.err.toStdString();
    const ProcessRun accent = runCorvex(instrument, { "pilot", "--set", QString::fromUtf8("site=Z\xc3\xbcrich") });
    EXPECT_EQ(accent.exitCode, 1);
    EXPECT_TRUE(accent.err.contains("ASCII")) << accent.err.toStdString();
    EXPECT_EQ(runCorvex(instrument, { "pilot", "--set", "wing=x" }).exitCode, 1);

    const ProcessRun longest = runCorvex(instrument, { "pilot", "--set", "pilot=" + QString(63, 'p'), "--set", "site=" });
    ASSERT_EQ(longest.exitCode, 0) << longest.err.toStdString();
    EXPECT_TRUE(longest.out.startsWith("Pilot: " + QString(63, 'p') + "\n")) << longest.out.toStdString();
    EXPECT_TRUE(runCorvex(instrument, { "pilot" }).out.contains("Pilot: " + QString(63, 'p') + "\n"));

    // A failed read is no empty record: neither printed as one nor edited and sent back.
    ASSERT_TRUE(instrument.control("fault pilot-error"));
    for (const QStringList& arguments : { QStringList { "pilot" }, QStringList { "pilot", "--set", "site=Elsewhere" } }) {
        const ProcessRun failed = runCorvex(instrument, arguments);
        EXPECT_EQ(failed.exitCode, 3) << arguments.join(' ').toStdString();
        EXPECT_TRUE(failed.err.contains("did not send its pilot data; nothing was changed")) << failed.err.toStdString();
    }
    ASSERT_TRUE(instrument.control("fault none"));
    EXPECT_TRUE(runCorvex(instrument, { "pilot" }).out.contains("Pilot: " + QString(63, 'p') + "\n"));
}

// The flights' own tracks of every shared flight: GPSBabel reads a point for every B
// record from the GPX and the KML, at the times and places its own IGC reader finds;
// xmllint checks the GPX against the GPX 1.1 structure (tests/resources says why it
// is not the public schema file) and the KML as XML.
TEST(ExportReadersFlights, GpxAndKmlTracksOfEverySharedFlight)
{
    if (auto missing = missingReader(false, true))
        GTEST_SKIP() << missing->toStdString();
    namespace flights = corvex::flights;
    QTemporaryDir out;
    const QString schema = QStringLiteral(CORVEX_SOURCE_DIR "/tests/resources/gpx-1.1-structure.xsd");
    const flights::TrackFileOptions options { "Corvex Vario <test> & co", "",
        std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)) };
    const QStringList igcFiles = filesIn(CORVEX_TESTDATA_DIR "/igc", "*.igc"); // and *.IGC: QDir ignores the case
    ASSERT_EQ(igcFiles.size(), 6);
    for (const QString& igc : igcFiles) {
        SCOPED_TRACE(igc.toStdString());
        QFile source(igc);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const auto bRecords = static_cast<std::size_t>(source.readAll().count("\nB")); // none starts a file
        const auto flight = flights::readIgcFile(igc.toStdString());
        ASSERT_TRUE(flight) << flight.error();
        const auto theirs = gpsbabelTrackPoints("igc", igc);
        ASSERT_FALSE(theirs.empty());

        for (const QString format : { "gpx", "kml" }) {
            const QString path = out.path() + "/flight." + format;
            std::ofstream(path.toStdString()) << (format == "gpx" ? flights::writeGpx(*flight, options) : flights::writeKml(*flight, options));
            const auto points = gpsbabelTrackPoints(format, path);
            ASSERT_EQ(points.size(), bRecords) << format.toStdString();
            EXPECT_EQ(points.front().time, theirs.front().time);
            EXPECT_EQ(points.back().time, theirs.back().time);
            EXPECT_NEAR(points.front().latitude, theirs.front().latitude, 1.7e-5);
            EXPECT_NEAR(points.front().longitude, theirs.front().longitude, 1.7e-5);
            const ProcessRun run = runProgram("xmllint", format == "gpx" ? QStringList { "--noout", "--schema", schema, path } : QStringList { "--noout", path });
            EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        }
    }

    // Names with what XML 1.0 cannot carry (C0 controls, U+FFFE, U+FFFF), markup, and
    // ISO-8859-1 still make well-formed files that keep the rest of the name on a line.
    const auto flight = flights::readIgcFile(igcFiles.front().toStdString());
    ASSERT_TRUE(flight);
    const std::pair<std::string, std::string> names[] = {
        { "Bell\x07 & <Co>", "Bell & <Co>" },
        { "A\xef\xbf\xbe" "B\xef\xbf\xbf" "C\x01\x1f", "ABC" },
        { "tab\tline\ncr\r", "tab line cr " },
        { "Z\xfcrich", "Z\xc3\xbcrich" },
        { "]]>\"'</name>", "]]>\"'</name>" },
    };
    for (const auto& [name, kept] : names) {
        SCOPED_TRACE(name);
        const flights::TrackFileOptions named { name, name, options.writtenAt };
        for (const QString format : { "gpx", "kml" }) {
            const std::string text = format == "gpx" ? flights::writeGpx(*flight, named) : flights::writeKml(*flight, named);
            pugi::xml_document document;
            ASSERT_TRUE(document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8))
                << format.toStdString();
            const pugi::xml_node root = document.document_element();
            EXPECT_EQ(std::string(format == "gpx" ? root.child("metadata").child_value("name") : root.child("Document").child_value("name")), kept);
            if (format == "gpx") {
                EXPECT_EQ(std::string(root.attribute("creator").value()), kept);
            }
            const QString path = out.path() + "/named." + format;
            std::ofstream(path.toStdString()) << text;
            const ProcessRun run = runProgram("xmllint", format == "gpx" ? QStringList { "--noout", "--schema", schema, path } : QStringList { "--noout", path });
            EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        }
    }
}

namespace {

// The entries of a zip held in memory, by name, in the archive's order.
std::vector<std::pair<std::string, std::string>> zipEntries(const std::string& bytes)
{
    std::vector<std::pair<std::string, std::string>> entries;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    EXPECT_NE(archive, nullptr) << zip_error_strerror(&error);
    if (!archive) {
        if (source)
            zip_source_free(source);
        zip_error_fini(&error);
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
        std::string content(static_cast<std::size_t>(stat.size), '\0');
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        EXPECT_EQ(zip_fread(file, content.data(), stat.size), static_cast<zip_int64_t>(stat.size));
        zip_fclose(file);
        entries.emplace_back(stat.name, std::move(content));
    }
    zip_discard(archive);
    zip_error_fini(&error);
    return entries;
}

// The KML 2.2 schema (OGC 07-147r2) and its gx extension fix the order of an element's
// children; no copy of the schema files ships in a package we may keep, so the order
// they require of what the writer uses is written out here, and every element of these
// kinds must list its children in it, with none the schema does not allow there.
const std::map<std::string, std::vector<std::string>> kmlChildOrder {
    { "Document", { "name", "visibility", "open", "description", "styleUrl", "Style", "feature" } },
    { "Folder", { "name", "visibility", "open", "description", "styleUrl", "Style", "feature" } },
    { "Placemark", { "name", "visibility", "open", "description", "LookAt", "TimeStamp", "styleUrl", "Style", "Point", "LineString", "gx:Track" } },
    { "Style", { "IconStyle", "LabelStyle", "LineStyle", "PolyStyle", "BalloonStyle", "ListStyle" } },
    { "IconStyle", { "color", "colorMode", "scale", "heading", "Icon", "hotSpot" } },
    { "LabelStyle", { "color", "colorMode", "scale" } },
    { "LineStyle", { "color", "colorMode", "width" } },
    { "PolyStyle", { "color", "colorMode", "fill", "outline" } },
    { "LineString", { "extrude", "tessellate", "altitudeMode", "coordinates" } },
    { "Point", { "extrude", "altitudeMode", "coordinates" } },
    { "ScreenOverlay", { "name", "visibility", "description", "color", "drawOrder", "Icon", "overlayXY", "screenXY", "rotationXY", "size", "rotation" } },
    { "Icon", { "href" } },
    { "gx:Track", { "altitudeMode", "when", "gx:coord", "gx:angles", "Model", "ExtendedData" } },
    { "gx:Tour", { "name", "visibility", "open", "description", "gx:Playlist" } },
    { "gx:Playlist", { "gx:FlyTo", "gx:Wait", "gx:AnimatedUpdate" } },
    { "gx:FlyTo", { "gx:duration", "gx:flyToMode", "LookAt", "Camera" } },
    { "LookAt", { "longitude", "latitude", "altitude", "heading", "tilt", "range", "altitudeMode" } },
};

// Every structural fault of the document, one line each.
std::vector<std::string> kmlStructureFaults(const pugi::xml_document& document)
{
    std::vector<std::string> faults;
    const pugi::xml_node kml = document.document_element();
    if (std::string(kml.name()) != "kml" || std::string(kml.attribute("xmlns").value()) != "http://www.opengis.net/kml/2.2"
        || std::string(kml.attribute("xmlns:gx").value()) != "http://www.google.com/kml/ext/2.2")
        faults.push_back("the root is no kml element in the KML 2.2 and gx namespaces");
    static const QRegularExpression coordinate(R"(^-?\d{1,3}\.\d+,-?\d{1,2}\.\d+,-?\d+$)");
    static const QRegularExpression colour("^[0-9a-f]{8}$");
    static const std::set<std::string> altitudeModes { "absolute", "clampToGround", "relativeToGround" };
    std::function<void(pugi::xml_node)> check = [&](pugi::xml_node element) {
        const std::string name = element.name();
        if (const auto order = kmlChildOrder.find(name); order != kmlChildOrder.end()) {
            std::size_t position = 0;
            for (pugi::xml_node child : element.children()) {
                if (child.type() != pugi::node_element)
                    continue;
                // A container's features (folders, placemarks, overlays, tours) come
                // in any order after its own elements.
                static const std::set<std::string> features { "Folder", "Placemark", "ScreenOverlay", "gx:Tour" };
                const std::string kind = features.count(child.name()) ? "feature" : child.name();
                const auto& allowed = order->second;
                const auto at = std::find(allowed.begin() + static_cast<std::ptrdiff_t>(position), allowed.end(), kind);
                if (at == allowed.end()) {
                    faults.push_back(std::string(child.name()) + " out of place in " + name);
                    continue;
                }
                position = static_cast<std::size_t>(at - allowed.begin());
            }
        }
        if (name == "coordinates") {
            const QString text = QString::fromUtf8(element.child_value()).trimmed();
            for (const QString& each : text.split(' ', Qt::SkipEmptyParts))
                if (!coordinate.match(each).hasMatch())
                    faults.push_back("coordinate " + each.toStdString());
        }
        if (name == "color" && !colour.match(QString::fromUtf8(element.child_value())).hasMatch())
            faults.push_back(std::string("colour ") + element.child_value());
        if (name == "altitudeMode" && !altitudeModes.count(element.child_value()))
            faults.push_back(std::string("altitude mode ") + element.child_value());
        if (name == "styleUrl" && !document.find_node([&](pugi::xml_node node) {
                return std::string(node.name()) == "Style" && "#" + std::string(node.attribute("id").value()) == element.child_value();
            }))
            faults.push_back(std::string("no style ") + element.child_value());
        for (pugi::xml_node child : element.children())
            if (child.type() == pugi::node_element)
                check(child);
    };
    check(kml);
    return faults;
}

} // namespace

// The KMZ of the shared flights: a zip with doc.kml first and the legend; a document of
// the structure KML 2.2 requires that GPSBabel reads back with every fix of every
// flight (the gx:Track) at its time, one flight or several in one file; the contest,
// the thermals, take-off, landing and a tour where the flight has them.
TEST(ExportReadersFlights, KmzOfOneFlightAndOfSeveral)
{
    if (auto missing = missingReader(false, true))
        GTEST_SKIP() << missing->toStdString();
    namespace analysis = corvex::analysis;
    QTemporaryDir out;
    const std::string legend = "\x89PNG\r\n\x1a\n legend stand-in";
    const auto& rules = corvex::flights::contestRuleSets().front();
    std::vector<analysis::KmzFlight> flights;
    for (const char* file : { "20180427.igc", "654G6NG1.IGC" }) {
        auto flight = analysis::readKmzFlight(std::string(CORVEX_TESTDATA_DIR "/igc/") + file, 0, &rules);
        ASSERT_TRUE(flight) << flight.error();
        ASSERT_TRUE(flight->score && flight->debrief) << file;
        flight->colour = analysis::kmzFlightColour(flights.size());
        flights.push_back(std::move(*flight));
    }
    ASSERT_FALSE(flights.front().debrief->thermals.empty());

    const std::pair<std::size_t, std::size_t> sets[] = { { 0, 1 }, { 1, 2 }, { 0, 2 } };
    for (const auto& [first, end] : sets) {
        SCOPED_TRACE(testing::Message() << "flights " << first << " to " << end);
        const std::span<const analysis::KmzFlight> chosen(flights.data() + first, end - first);
        const auto kmz = analysis::writeKmz(chosen, { "", "Corvex Vario <test>", first == 0 ? legend : std::string() });
        ASSERT_TRUE(kmz) << kmz.error();
        const auto entries = zipEntries(*kmz);
        ASSERT_EQ(entries.size(), first == 0 ? 2u : 1u);
        EXPECT_EQ(entries[0].first, "doc.kml");
        if (first == 0) {
            EXPECT_EQ(entries[1].first, "legend.png");
            EXPECT_EQ(entries[1].second, legend);
        }
        const std::string& kml = entries[0].second;
        EXPECT_EQ(kml, analysis::kmzDocument(chosen, { "", "Corvex Vario <test>", first == 0 ? legend : std::string() }));

        pugi::xml_document document;
        ASSERT_TRUE(document.load_buffer(kml.data(), kml.size()));
        const auto faults = kmlStructureFaults(document);
        EXPECT_TRUE(faults.empty()) << faults.size() << " faults, the first: " << (faults.empty() ? "" : faults.front());
        const pugi::xml_node root = document.document_element().child("Document");
        EXPECT_EQ(static_cast<bool>(root.child("ScreenOverlay")), first == 0);
        std::size_t folders = 0;
        for (pugi::xml_node folder : root.children("Folder")) {
            SCOPED_TRACE(folder.child_value("name"));
            const analysis::KmzFlight& flight = chosen[folders++];
            const auto named = [&](const char* name) {
                return folder.find_child([&](pugi::xml_node node) { return std::string(node.child_value("name")) == name; });
            };
            const auto count = [](pugi::xml_object_range<pugi::xml_named_node_iterator> range) {
                return static_cast<std::size_t>(std::distance(range.begin(), range.end()));
            };
            const pugi::xml_node track = named("Track").child("gx:Track");
            EXPECT_EQ(count(track.children("when")), flight.flight.fixes.size());
            EXPECT_EQ(count(track.children("gx:coord")), flight.flight.fixes.size());
            // The plain line under the climb runs, for globes that draw no gx:Track:
            // take-off to landing in one LineString of the flight's style.
            const pugi::xml_node plain = named("Track line");
            EXPECT_EQ(std::string(plain.child_value("styleUrl")), "#flight-" + std::to_string(folders));
            const std::string points = plain.child("LineString").child_value("coordinates");
            EXPECT_EQ(static_cast<std::size_t>(std::count(points.begin(), points.end(), ' ')) + 1,
                flight.figures.landingIndex - flight.figures.takeoffIndex + 1);
            const pugi::xml_node climb = named("Climb");
            ASSERT_TRUE(climb);
            EXPECT_EQ(std::string(climb.child_value("visibility")), chosen.size() == 1 ? "1" : "0") << "a comparison shows its colours";
            std::size_t extruded = 0;
            for (pugi::xml_node line : climb.children("Placemark"))
                extruded += std::string(line.child("LineString").child_value("extrude")) == "1";
            EXPECT_GT(extruded, 10u);
            const auto namedFolder = [&](const char* prefix) {
                return folder.find_child([&](pugi::xml_node node) { return std::string(node.child_value("name")).starts_with(prefix); });
            };
            EXPECT_EQ(count(namedFolder("Contest").children("Placemark")), flight.score->turnpoints.size() + 1) << "the legs and each turnpoint";
            const pugi::xml_node thermals = namedFolder("Thermals");
            EXPECT_EQ(count(thermals.children("Placemark")), flight.debrief->thermals.size());
            if (!flight.debrief->thermals.empty()) {
                const std::string description = thermals.child("Placemark").child_value("description");
                for (const char* figure : { "Start ", "Duration ", "Gain ", "Climb ", "Best 20 s ", "Direction " })
                    EXPECT_NE(description.find(figure), std::string::npos) << figure;
            }
            for (const char* mark : { "Take-off", "Landing" })
                EXPECT_TRUE(named(mark).child("Point")) << mark;
            const std::size_t views = count(folder.child("gx:Tour").child("gx:Playlist").children("gx:FlyTo"));
            const double flown = double(flight.figures.landingTime - flight.figures.takeoffTime);
            EXPECT_NEAR(double(views), flown / (flown > 7200 ? 60 : 30) + 1, 2) << "a view every 30 or 60 s";
        }
        EXPECT_EQ(folders, chosen.size());

        const QString path = out.path() + "/doc.kml";
        std::ofstream(path.toStdString(), std::ios::trunc) << kml;
        EXPECT_EQ(runProgram("xmllint", { "--noout", path }).exitCode, 0);
        // GPSBabel reads the gx:Track of each flight as a track with every fix.
        const ProcessRun run = runProgram("gpsbabel", { "-i", "kml", "-f", path, "-o", "gpx", "-F", "-" });
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        pugi::xml_document gpx;
        ASSERT_TRUE(gpx.load_string(run.out.toUtf8().constData()));
        std::vector<std::size_t> pointsPerTrack;
        std::vector<std::string> firstTimes;
        for (pugi::xml_node trk : gpx.document_element().children("trk")) {
            std::size_t points = 0;
            for (pugi::xml_node segment : trk.children("trkseg"))
                points += static_cast<std::size_t>(std::distance(segment.children("trkpt").begin(), segment.children("trkpt").end()));
            if (trk.child("trkseg").child("trkpt").child("time")) {
                pointsPerTrack.push_back(points);
                firstTimes.push_back(trk.child("trkseg").child("trkpt").child_value("time"));
            }
        }
        ASSERT_EQ(pointsPerTrack.size(), chosen.size()) << run.out.left(2000).toStdString();
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            EXPECT_EQ(pointsPerTrack[i], chosen[i].flight.fixes.size());
            EXPECT_EQ(firstTimes[i], corvex::flights::kmlTime(chosen[i].flight.fixes.front().time));
        }
    }

    // A folder that cannot be written says so and leaves nothing.
    const auto refused = analysis::saveKmz(flights, {}, out.path().toStdString() + "/missing/flight.kmz");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "cannot write " + out.path().toStdString() + "/missing/flight.kmz");
    const std::string saved = out.path().toStdString() + "/flights.kmz";
    ASSERT_TRUE(analysis::saveKmz(flights, {}, saved));
    EXPECT_EQ(QDir(out.path()).entryList({ "flights.kmz*" }, QDir::Files), QStringList { "flights.kmz" });
}
