#include "AirspacesRender.h"
#include "Commands.h"
#include "LibraryAccess.h"
#include "TerminalProgress.h"

#include "airspaces/Airspaces.h"
#include "airspaces/AirspacesTransferService.h"
#include "airspaces/OpenAirConverter.h"
#include "airspaces/WSAirspaces.h"
#include "base/FileRead.h"
#include "base/Format.h"
#include "base/Sha256.h"
#include "export/ExportFiles.h"
#include "library/FlightLibrary.h"
#include "library/FlightSync.h"
#include "map/MapProjection.h"
#include "map/qt/MapBaseLayer.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/VendorEndpoints.h"

#include <QBuffer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <ostream>

#include <unistd.h>

namespace corvex::cli {

namespace {

// The file whole, or nothing after the reason was printed.
std::optional<Bytes> readFileBytes(const std::string& path, FileKind kind, std::ostream& err)
{
    const auto contents = readFileWhole(path, kind);
    if (!contents) {
        printError(err, contents.error().message());
        return std::nullopt;
    }
    return Bytes(contents->begin(), contents->end());
}

// Whole or not at all, beside the target then moved over it; the path is taken as the
// bytes given (a name that is not UTF-8 is that name).
bool writeFileBytes(const std::string& path, std::string_view bytes)
{
    const auto temporary = writeTemporaryFile(path + ".XXXXXX", bytes);
    if (!temporary)
        return false;
    if (std::rename(temporary->c_str(), path.c_str()) != 0) {
        ::unlink(temporary->c_str());
        return false;
    }
    return true;
}
bool writeFileBytes(const std::string& path, const Bytes& bytes)
{
    return writeFileBytes(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Reads the device info and says why when the firmware has no airspaces.
bool firmwareSupportsAirspaces(CorvexDevice& device, std::ostream& err)
{
    if (!device.getDeviceInfo()) {
        printError(err, "cannot read the instrument's device info");
        return false;
    }
    const FirmwareVersion version = device.firmwareVersion();
    if (!version.supportsAirspaces()) {
        printError(err, "firmware " + version.text() + " of this instrument has no airspaces support");
        return false;
    }
    return true;
}

void printHeader(std::ostream& out, const Airspaces& set)
{
    out << "File name: " << visibleText(set.airspacesFilename().value_or("(not UTF-8)")) << "\n"
        << "Description: " << visibleText(set.airspacesDescription().value_or("(not UTF-8)")) << "\n"
        << "Upload date: " << defaultDateText(set.airspacesUploadDate()) << "\n"
        << "Segments: " << set.numberOfSegments() << "\n";
}

// Every tenth percent of the erase's wait, so that a script's log shows it is alive.
std::function<void(float)> clearingProgress(std::ostream& err)
{
    return [&err, lastPercent = -1](float fraction) mutable {
        const int percent = static_cast<int>(fraction * 100);
        if (percent / 10 != lastPercent / 10)
            err << "clearing: " << percent << "%\n";
        lastPercent = percent;
    };
}

std::string failureReason(const AirspacesTransferFailure& failure)
{
    const bool refused = !failure.device || failure.device->kind == DeviceErrorKind::Refused;
    switch (failure.reason) {
    case AirspacesTransferError::NotASet:
        return "the bytes are not an airspaces set in the instrument's format";
    case AirspacesTransferError::ReadFailed:
        return "cannot read the airspaces from the instrument";
    case AirspacesTransferError::EraseFailed:
        return "the instrument did not confirm clearing its airspaces";
    case AirspacesTransferError::ChunkRefused:
        // A chunk lost with the cable was not refused: say what happened instead.
        return (refused ? "the instrument refused chunk " : "chunk ") + std::to_string(failure.chunk) + " of "
            + std::to_string(failure.chunkCount) + (refused ? "" : " did not get through");
    case AirspacesTransferError::Cancelled:
        return "the upload stopped before chunk " + std::to_string(failure.chunk) + " of " + std::to_string(failure.chunkCount);
    case AirspacesTransferError::ConcludeFailed:
        return "the instrument did not confirm the end of the upload";
    }
    return "the airspaces transfer failed";
}

std::string failureText(const AirspacesTransferFailure& failure)
{
    std::string text = failureReason(failure);
    if (failure.device && failure.device->kind != DeviceErrorKind::Refused)
        text += ": " + deviceErrorSummary(*failure.device);
    return text;
}

int clearSet(CorvexDevice& device, std::ostream& err)
{
    if (auto cleared = AirspacesTransferService(device).clear(clearingProgress(err)); !cleared) {
        printError(err, failureText(cleared.error()));
        return InstrumentFailed;
    }
    return Success;
}

int runInfo(CliContext& context, CorvexDevice& device)
{
    auto header = device.readWholeAirspacesSet(AirspacesReadScope::MetadataOnly);
    if (!header) {
        printError(context.err, "cannot read the airspaces header from the instrument");
        return InstrumentFailed;
    }
    if (header->size() != airspacesFormat::headerSize) {
        context.out << "The instrument holds no airspaces\n";
        return Success;
    }
    ByteView view(*header);
    context.out << "File name: " << textField(view.subspan(airspacesFormat::fileNameOffset, airspacesFormat::fileNameSize)) << "\n"
                << "Description: " << textField(view.subspan(airspacesFormat::descriptionOffset, airspacesFormat::descriptionSize))
                << "\n"
                << "Cache file name: " << buildCacheFilenameFromHeader(view).value_or("") << "\n";
    return Success;
}

int runRead(CliContext& context, CorvexDevice& device, const std::string& path)
{
    TerminalProgress progress(context.err);
    auto set = AirspacesTransferService(device).readWholeSet(
        [&progress](std::size_t bytes) { progress.show("read " + std::to_string(bytes) + " bytes"); });
    progress.finish();
    if (!set) {
        printError(context.err, failureText(set.error()));
        return InstrumentFailed;
    }
    if (set->empty()) {
        context.out << "The instrument holds no airspaces\n";
        return Success;
    }
    if (!writeFileBytes(path, *set)) {
        printError(context.err, "cannot write " + path);
        return FileError;
    }
    if (auto parsed = Airspaces::initWithDataInInternalFormat(*set, device.log()))
        printHeader(context.out, *parsed);
    else
        printError(context.err, "the set read from the instrument is damaged; saved as it came");
    context.out << visibleText(path) << " (" << set->size() << " bytes)\n";
    return Success;
}

// The library remembers which OpenAir file the instrument holds from now on, when it
// kept the file this set was converted from, so that `airspace-check` finds it later.
void recordUpload(CliContext& context, CorvexDevice& device, const std::string& setSha256)
{
    const auto info = device.getDeviceInfo();
    if (!info)
        return;
    auto flights = libraryToRecordIn(context, "the upload");
    if (!flights)
        return;
    const std::string serial = library::instrumentSerialText(info->deviceId);
    const auto source = flights->airspaces().recordUpload(setSha256, serial, std::time(nullptr));
    if (!source)
        context.err << "corvex: note: the library cannot record the upload: " << visibleText(source.error().message) << "\n";
    else if (*source)
        context.out << "The library records " << visibleText((*source)->name) << " as the airspaces of instrument " << serial
                    << " from now on\n";
}

int runUpload(CliContext& context, CorvexDevice& device, const std::string& path)
{
    auto bytes = readFileBytes(path, FileKind::AirspaceSet, context.err);
    if (!bytes)
        return FileError;
    TerminalProgress progress(context.err);
    AirspacesTransferObserver observer;
    observer.eraseProgress = clearingProgress(context.err);
    observer.chunkWritten = [&progress](std::size_t n, std::size_t count) {
        progress.show("uploading chunk " + std::to_string(n) + " of " + std::to_string(count), n, count);
    };
    const std::string setSha256 = Sha256::hexOf(*bytes);
    const auto uploaded = AirspacesTransferService(device).upload(std::make_shared<const Bytes>(std::move(*bytes)), observer);
    progress.finish();
    if (!uploaded && uploaded.error().reason == AirspacesTransferError::NotASet) {
        printError(context.err, path + " is not an airspaces set in the instrument's format");
        return FileError;
    }
    if (!uploaded) {
        printError(context.err, failureText(uploaded.error()));
        return InstrumentFailed;
    }
    printHeader(context.out, uploaded->set);
    context.out << "Uploaded " << uploaded->byteCount << " bytes in " << uploaded->chunkCount << " chunks\n";
    recordUpload(context, device, setSha256);
    return Success;
}

std::string conversionFailureText(const ConversionFailure& failure, const std::string& input, const std::optional<std::string>& server)
{
    switch (failure.reason) {
    case ConversionFailure::Reason::Refused:
        return "the airspaces service at " + server.value_or("") + " refused to convert " + input
            + " (CORVEX_LOG_STDERR=1 shows its answer)";
    case ConversionFailure::Reason::Cancelled:
        return "the conversion of " + input + " was cancelled";
    case ConversionFailure::Reason::InvalidFile: {
        std::string text = input + " cannot be converted:";
        for (const std::string& problem : failure.problems)
            text += "\n  " + problem;
        return text;
    }
    case ConversionFailure::Reason::NoSafeName:
        return "the set converted from " + input + " has no name that can be used as a file name";
    }
    return "cannot convert " + input;
}

// Without --server the file is converted here and nothing goes over the network; with
// it, by that service, and here when the service cannot be reached.
int runConvert(CliContext& context)
{
    const std::string input = context.arguments.front();
    const std::optional<std::string> output = context.option("out");
    const std::optional<std::string> description = context.option("description");
    const std::optional<std::string> server = context.option("server");
    if (output->empty()) {
        printError(context.err, "--out needs a file name");
        return UsageError;
    }
    auto bytes = readFileBytes(input, FileKind::OpenAir, context.err);
    if (!bytes)
        return FileError;

    SystemLogSink log;
    QtHttpClient http(context.transferTimeout);
    std::optional<WSAirspaces> service;
    if (server)
        service.emplace(VendorEndpoints(*server).airspacesServiceUrl(), http, log);
    OpenAirConverter converter(service ? &*service : nullptr, log);
    // The set names its source as people read it: bytes that are not UTF-8 become U+FFFD.
    const std::string sourceName = QString::fromStdString(std::filesystem::path(input).filename().string()).toStdString();
    QEventLoop loop;
    std::optional<Result<ConvertedAirspaces, ConversionFailure>> outcome;
    converter.convertWithReasons(description.value_or(""), std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
        sourceName, [&](Result<ConvertedAirspaces, ConversionFailure> result) {
            outcome = std::move(result);
            loop.quit();
        });
    // A conversion made here has already ended.
    if (!outcome)
        loop.exec();
    if (!*outcome) {
        printError(context.err, conversionFailureText(outcome->error(), input, server));
        return FileError;
    }
    const ConvertedAirspaces& converted = outcome->value();
    if (!writeFileBytes(*output, converted.bytes)) {
        printError(context.err, "cannot write " + *output);
        return FileError;
    }
    if (auto set = Airspaces::initWithDataInInternalFormat(converted.bytes, log))
        printHeader(context.out, *set);
    // Kept with the digest of the set made from it, which an upload names later.
    if (auto flights = libraryToRecordIn(context, "the conversion of " + input)) {
        const auto kept = flights->airspaces().keep(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
            input, library::AirspaceUse::Converted, std::time(nullptr), Sha256::hexOf(converted.bytes));
        if (!kept)
            context.err << "corvex: note: " << visibleText(input) << " was not kept in the library: " << visibleText(kept.error().message) << "\n";
    }
    if (converted.convertedLocally)
        context.out << "Converted on this computer" << (server ? " (the airspaces service cannot be reached)" : "") << "\n";
    else
        context.out << "Converted by the airspaces service at " << *server << "\n";
    context.out << "Cache file name: " << visibleText(converted.fileName) << "\n" << visibleText(*output) << " (" << converted.bytes.size() << " bytes)\n";
    return Success;
}

std::optional<QSize> parseSize(const std::string& text)
{
    int width = 0;
    int height = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &end) != 2)
        return std::nullopt;
    constexpr int largest = 8192;
    if (width < 16 || height < 16 || width > largest || height > largest)
        return std::nullopt;
    return QSize(width, height);
}

int runRender(CliContext& context)
{
    const std::string input = context.arguments.front();
    const std::string output = context.option("out").value_or("");
    const std::string modeText = context.option("mode").value_or("0");
    if (modeText.size() != 1 || modeText[0] < '0' || modeText[0] > '3') {
        printError(context.err, "--mode takes 0, 1, 2 or 3, not " + modeText);
        return UsageError;
    }
    const int mode = modeText[0] - '0';
    const auto size = parseSize(context.option("size").value_or("1280x800"));
    if (!size) {
        printError(context.err, "--size takes WIDTHxHEIGHT, each from 16 to 8192 pixels");
        return UsageError;
    }
    if (output.empty()) {
        printError(context.err, "--out needs a file name");
        return UsageError;
    }
    auto bytes = readFileBytes(input, FileKind::AirspaceSet, context.err);
    if (!bytes)
        return FileError;
    SystemLogSink log;
    auto set = Airspaces::initWithDataInInternalFormat(std::move(*bytes), log);
    if (!set) {
        printError(context.err, input + " is not an airspaces set in the instrument's format");
        return FileError;
    }
    if (!prepareFolderOfFile(output, context.err))
        return FileError;

    AirspacesScene scene(*set, mode);
    MapPainter painter;
    const MapRect visible = visibleMapRectFitting(scene.fittedMapRect(), *size);
    // The standard map's tiles, as the window shows them; a render waits a few seconds
    // for them at most, then draws with those that came.
    std::string baseMap = "the offline geography";
    QtHttpClient http(context.transferTimeout);
    PreferencesStore preferences;
    std::unique_ptr<MapBaseLayer> baseLayer;
    if (!context.option("offline")) {
        preferences.registerDefaultsFromPropertyList(":/InitialDefaults.plist");
        MapBaseLayer::Options options;
        options.userAgent = MapBaseLayer::userAgentFor(CORVEX_VERSION);
        baseLayer = std::make_unique<MapBaseLayer>(http, preferences, options);
        if (baseLayer->urlTemplate().isEmpty()) {
            baseLayer.reset();
        } else {
            const bool complete = waitForTiles(*baseLayer, *size, visible, std::chrono::seconds(5));
            baseMap = (complete ? "tiles from " : "the tiles that came in time from ") + baseLayer->urlTemplate().toStdString();
        }
    }
    const QImage image = renderScene(scene, painter, *size, visible, baseLayer.get());
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")
        || !writeFileBytes(output, std::string_view(png.constData(), static_cast<std::size_t>(png.size())))) {
        printError(context.err, "cannot write " + output);
        return FileError;
    }
    // The overlays the image shows in any copy of the world: across ±180° the layer is
    // painted once a copy, and its own count is of the last one.
    const MapRect shown = MapViewport(size->width(), size->height(), visible).mapRectWithMargin(4);
    const auto drawn = std::count_if(scene.overlays().begin(), scene.overlays().end(), [&](const auto& overlay) {
        const MapRect& bounds = overlay->boundingMapRect();
        return !bounds.isNull() && !worldCopiesMeeting(bounds, shown).empty();
    });
    printHeader(context.out, *set);
    context.out << "Drawn: " << drawn << " of " << scene.overlays().size() << " overlays, mode " << mode
                << ", over " << baseMap << "\n"
                << visibleText(output) << " (" << size->width() << "x" << size->height() << ")\n";
    return Success;
}

// The airspaces commands that talk to the instrument need firmware that knows them.
int withAirspacesInstrument(CliContext& context, const std::function<int(CorvexDevice&)>& action)
{
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    CorvexDevice& device = session.device();
    if (!firmwareSupportsAirspaces(device, context.err))
        return InstrumentFailed;
    return action(device);
}

int runInfoAction(CliContext& context)
{
    return withAirspacesInstrument(context, [&](CorvexDevice& device) { return runInfo(context, device); });
}

int runReadAction(CliContext& context)
{
    if (!prepareFolderOfFile(context.arguments[0], context.err))
        return FileError;
    return withAirspacesInstrument(context, [&](CorvexDevice& device) { return runRead(context, device, context.arguments[0]); });
}

int runUploadAction(CliContext& context)
{
    return withAirspacesInstrument(context, [&](CorvexDevice& device) { return runUpload(context, device, context.arguments[0]); });
}

int runClearAction(CliContext& context)
{
    return withAirspacesInstrument(context, [&](CorvexDevice& device) { return clearSet(device, context.err); });
}

const CliCommand infoSubcommand {
    .name = "info",
    .usage = "",
    .summary = "the name, description and cache file name of the instrument's set",
    .run = runInfoAction,
};
const CliCommand readSubcommand {
    .name = "read",
    .usage = "FILE",
    .summary = "save the instrument's set into FILE",
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runReadAction,
};
const CliCommand uploadSubcommand {
    .name = "upload",
    .usage = "FILE [--library DIR]",
    .summary = "replace the instrument's set with the set in FILE",
    .options = { libraryOption },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runUploadAction,
};
const CliCommand clearSubcommand {
    .name = "clear",
    .usage = "",
    .summary = "erase the instrument's set (about 21 s)",
    .run = runClearAction,
};
const CliCommand convertSubcommand {
    .name = "convert",
    .usage = "OPENAIR_FILE --out FILE [--description TEXT] [--server URL] [--library DIR]",
    .summary = "convert an OpenAir file on this computer, or with the vendor's airspaces service",
    .options = {
        { "out", "FILE", "the converted set to write", true },
        { "description", "TEXT", "the set's description" },
        { "server", "URL", "convert with the vendor's web server at URL (on this computer when it cannot be reached)" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runConvert,
};

const CliCommand renderSubcommand {
    .name = "render",
    .usage = "SET --out FILE.png [--mode 0|1|2|3] [--size WxH] [--offline]",
    .summary = "draw a set (in the instrument's format) over the standard map into a PNG image",
    .options = {
        { "out", "FILE", "the PNG image to write", true },
        { "mode", "MODE", "0 a colour per outline, 1 blue outlines, 2 filled red areas, 3 plain lines (default 0)" },
        { "size", "WxH", "the image's size in pixels (default 1280x800)" },
        { "offline", nullptr, "no map tiles: the offline geography only" },
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runRender,
};

} // namespace

extern const CliCommand airspacesCommand {
    .name = "airspaces",
    .usage = "info|read FILE|upload FILE|clear|convert OPENAIR --out FILE|render SET --out FILE.png",
    .summary = "show, save, upload or clear the instrument's airspaces; convert an OpenAir file; draw a set",
    .options = {},
    .run = nullptr,
    .subcommands = { &infoSubcommand, &readSubcommand, &uploadSubcommand, &clearSubcommand, &convertSubcommand, &renderSubcommand },
};

} // namespace corvex::cli
