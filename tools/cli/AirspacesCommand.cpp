#include "Commands.h"

#include "airspaces/Airspaces.h"
#include "airspaces/OpenAirParser.h"
#include "airspaces/WSAirspaces.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/qt/VendorEndpointsPreference.h"
#include "updates/VendorEndpoints.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <ostream>

namespace corvex::cli {

namespace {

constexpr std::size_t chunkSize = 121;
const char* const usage = "info | read FILE | upload FILE | clear | convert OPENAIR_FILE --out FILE [--description TEXT] [--server URL]";

std::optional<Bytes> readFileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray contents = file.readAll();
    return Bytes(contents.begin(), contents.end());
}

bool writeFileBytes(const std::string& path, const Bytes& bytes)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return file.commit();
}

// 1.365 or later on a Lark, 2.401 or later on a Wren.
bool firmwareSupportsAirspaces(CorvexDevice& device, std::ostream& err)
{
    if (!device.getDeviceInfo()) {
        printError(err, "cannot read the instrument's device info");
        return false;
    }
    const std::string version = firmwareVersionText(device.currentFirmwareVersion());
    const auto order = compareDecimalTexts(version, device.isWren() ? "2.401" : "1.365");
    if (!order || *order < 0) {
        printError(err, "firmware " + version + " of this instrument has no airspaces support");
        return false;
    }
    return true;
}

void printHeader(std::ostream& out, const Airspaces& set)
{
    out << "File name: " << set.airspacesFilename().value_or("(not UTF-8)") << "\n"
        << "Description: " << set.airspacesDescription().value_or("(not UTF-8)") << "\n"
        << "Upload date: " << defaultDateText(set.airspacesUploadDate()) << "\n"
        << "Segments: " << set.numberOfSegments() << "\n";
}

int clearSet(CorvexDevice& device, std::ostream& err)
{
    int lastPercent = -1;
    const bool erased = device.eraseAirspacesDataWithFakeProgressBlock([&](float fraction) {
        const int percent = static_cast<int>(fraction * 100);
        if (percent / 10 != lastPercent / 10)
            err << "clearing: " << percent << "%\n";
        lastPercent = percent;
    });
    if (!erased) {
        printError(err, "the instrument did not confirm clearing its airspaces");
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
    auto set = device.readWholeAirspacesSet(AirspacesReadScope::WholeData);
    if (!set) {
        printError(context.err, "cannot read the airspaces from the instrument");
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
    context.out << path << " (" << set->size() << " bytes)\n";
    return Success;
}

int runUpload(CliContext& context, CorvexDevice& device, const std::string& path)
{
    auto bytes = readFileBytes(path);
    if (!bytes) {
        printError(context.err, "cannot read " + path);
        return FileError;
    }
    // The instrument takes whatever it is sent: refuse a file that is not a set before
    // its current set is erased.
    auto set = Airspaces::initWithDataInInternalFormat(*bytes, device.log());
    if (!set) {
        printError(context.err, path + " is not an airspaces set in the instrument's format");
        return FileError;
    }
    auto header = device.readWholeAirspacesSet(AirspacesReadScope::MetadataOnly);
    if (header && header->size() == airspacesFormat::headerSize) {
        if (int result = clearSet(device, context.err); result != Success)
            return result;
    }
    const ByteView data(*bytes);
    const std::size_t count = (data.size() + chunkSize - 1) / chunkSize;
    for (std::size_t n = 0; n < count; ++n) {
        const auto chunk = data.subspan(n * chunkSize, std::min(chunkSize, data.size() - n * chunkSize));
        if (!device.writeAirspacesChunk(chunk, n == 0 ? AirspacesWritePosition::FirstChunk : AirspacesWritePosition::NextChunk)) {
            printError(context.err, "the instrument refused chunk " + std::to_string(n + 1) + " of " + std::to_string(count));
            return InstrumentFailed;
        }
    }
    if (!device.concludeWritingAirspacesData()) {
        printError(context.err, "the instrument did not confirm the end of the upload");
        return InstrumentFailed;
    }
    printHeader(context.out, *set);
    context.out << "Uploaded " << data.size() << " bytes in " << count << " chunks\n";
    return Success;
}

int runConvert(CliContext& context)
{
    std::optional<std::string> input, output, description, server;
    const auto& arguments = context.arguments;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        auto takeValue = [&](const std::string& option, std::optional<std::string>& target) {
            if (arguments[i] == option && i + 1 < arguments.size()) {
                target = arguments[++i];
                return true;
            }
            if (arguments[i].starts_with(option + "=")) {
                target = arguments[i].substr(option.size() + 1);
                return true;
            }
            return false;
        };
        if (takeValue("--out", output) || takeValue("--description", description) || takeValue("--server", server))
            continue;
        if (!input && !arguments[i].starts_with("-")) {
            input = arguments[i];
            continue;
        }
        printError(context.err, "unexpected argument " + arguments[i] + " (usage: corvex airspaces " + usage + ")");
        return UsageError;
    }
    if (!input || !output || output->empty()) {
        printError(context.err, "usage: corvex airspaces convert OPENAIR_FILE --out FILE [--description TEXT] [--server URL]");
        return UsageError;
    }
    auto bytes = readFileBytes(*input);
    if (!bytes) {
        printError(context.err, "cannot read " + *input);
        return FileError;
    }
    // Older files are Latin-1; the service takes UTF-8.
    const std::string text = openair::decodeFileText(std::string(bytes->begin(), bytes->end()));
    const VendorEndpoints endpoints = server ? VendorEndpoints(*server) : vendorEndpoints(PreferencesStore());

    SystemLogSink log;
    QtHttpClient http;
    WSAirspaces service(endpoints.airspacesServiceUrl(), http, log);
    QEventLoop loop;
    std::optional<std::string> binaryFileName;
    std::optional<Bytes> converted;
    service.ConvertOpenAirWithDescription(description.value_or(""), text, QFileInfo(QString::fromStdString(*input)).fileName().toStdString(),
        [&](std::optional<std::string> name, std::optional<Bytes> data) {
            binaryFileName = std::move(name);
            converted = std::move(data);
            loop.quit();
        });
    loop.exec();
    if (!converted) {
        printError(context.err, "the airspaces service at " + endpoints.baseUrl()
                + " could not convert " + *input + " (CORVEX_LOG_STDERR=1 shows its answer)");
        return FileError;
    }
    if (!writeFileBytes(*output, *converted)) {
        printError(context.err, "cannot write " + *output);
        return FileError;
    }
    if (auto set = Airspaces::initWithDataInInternalFormat(*converted, log))
        printHeader(context.out, *set);
    context.out << "Cache file name: " << binaryFileName.value_or("") << "\n" << *output << " (" << converted->size() << " bytes)\n";
    return Success;
}

int runAirspaces(CliContext& context)
{
    const auto& arguments = context.arguments;
    if (arguments.empty()) {
        printError(context.err, std::string("usage: corvex airspaces ") + usage);
        return UsageError;
    }
    const std::string& action = arguments[0];
    if (action == "convert")
        return runConvert(context);
    const bool needsFile = action == "read" || action == "upload";
    if ((action != "info" && action != "clear" && !needsFile) || arguments.size() != (needsFile ? 2u : 1u)) {
        printError(context.err, std::string("usage: corvex airspaces ") + usage);
        return UsageError;
    }

    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    CorvexDevice& device = session.device();
    if (!firmwareSupportsAirspaces(device, context.err))
        return InstrumentFailed;
    if (action == "info")
        return runInfo(context, device);
    if (action == "read")
        return runRead(context, device, arguments[1]);
    if (action == "upload")
        return runUpload(context, device, arguments[1]);
    return clearSet(device, context.err);
}

} // namespace

extern const CliCommand airspacesCommand {
    "airspaces", "info|read FILE|upload FILE|clear|convert OPENAIR --out FILE",
    "show, save, upload or clear the instrument's airspaces; convert an OpenAir file", runAirspaces
};

} // namespace corvex::cli
