#include "VendorServer.h"

#include "airspaces/Airspaces.h"
#include "airspaces/AirspacesSoap.h"
#include "airspaces/Base64.h"
#include "airspaces/OpenAirConversion.h"
#include "base/FileRead.h"
#include "platform/VendorEndpoints.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QTimer>
#include <QThread>
#include <QUrl>

#include <pugixml.hpp>

#include <cstdio>
#include <sstream>

namespace corvex::vendorserver {

using namespace corvex::airspacesSoap;

namespace {

constexpr const char* xmlContentType = "text/xml; charset=utf-8";

// Set ids that --test-replies adds, for the client's failure paths.
constexpr long long missingElementId = -1; // a reply without InternalFormatData
constexpr long long lineBrokenBase64Id = -2; // Base64 broken into 76-character lines
constexpr long long slowReplyId = -3; // the first set, after two seconds
// A conversion with this description is refused as a busy service would, whatever the file.
constexpr const char* refusedConversionDescription = "test: refuse";

struct ApprovedSet {
    long long id { 0 };
    std::string displayName;
    QString path;
};

std::string toStd(const QString& text) { return text.toUtf8().toStdString(); }

// index.txt: "id<TAB>display name<TAB>file", '#' starts a comment. Without an index,
// every file of the folder is a set, numbered from 1 in name order, shown by name.
std::vector<ApprovedSet> approvedSets(const Options& options)
{
    std::vector<ApprovedSet> sets;
    if (options.approvedDirectory.isEmpty())
        return sets;
    const QDir directory(options.approvedDirectory);
    if (const auto index = readFileWhole(QFile::encodeName(directory.filePath("index.txt")).toStdString(), FileKind::Feed)) {
        for (const QByteArray& rawLine : QByteArray::fromStdString(*index).split('\n')) {
            const QString line = QString::fromUtf8(rawLine).trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QStringList fields = line.split('\t');
            bool ok = false;
            const long long id = fields.value(0).toLongLong(&ok);
            if (!ok || fields.size() != 3 || fields[2].contains('/') || fields[2].startsWith('.'))
                continue;
            sets.push_back({ id, toStd(fields[1]), directory.filePath(fields[2]) });
        }
        return sets;
    }
    long long id = 1;
    for (const QString& name : directory.entryList(QDir::Files, QDir::Name))
        sets.push_back({ id++, toStd(QFileInfo(name).completeBaseName()), directory.filePath(name) });
    return sets;
}

std::string serialized(const pugi::xml_document& document)
{
    std::ostringstream text;
    document.save(text, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return text.str();
}

// The response envelope and the element the operation's result goes into.
pugi::xml_node responseResult(pugi::xml_document& document, Operation operation)
{
    auto envelope = document.append_child("s:Envelope");
    envelope.append_attribute("xmlns:s") = std::string(envelopeNamespace).c_str();
    auto response = envelope.append_child("s:Body").append_child((std::string(operationName(operation)) + "Response").c_str());
    response.append_attribute("xmlns") = std::string(serviceNamespace).c_str();
    auto result = response.append_child((std::string(operationName(operation)) + "Result").c_str());
    result.append_attribute("xmlns:a") = std::string(dataContractNamespace).c_str();
    result.append_attribute("xmlns:i") = std::string(schemaInstanceNamespace).c_str();
    return result;
}

void appendText(pugi::xml_node parent, const char* name, const std::string& text)
{
    parent.append_child(name).append_child(pugi::node_pcdata).set_value(text.c_str());
}

Reply xmlReply(int status, const std::string& body)
{
    return { status, xmlContentType, QByteArray::fromStdString(body), {}, {} };
}

// A SOAP 1.1 fault: HTTP 500, faultcode s:Client for the caller's mistakes and
// s:Server for ours.
Reply fault(const char* code, const std::string& message, int status = 500)
{
    pugi::xml_document document;
    auto envelope = document.append_child("s:Envelope");
    envelope.append_attribute("xmlns:s") = std::string(envelopeNamespace).c_str();
    auto faultNode = envelope.append_child("s:Body").append_child("s:Fault");
    appendText(faultNode, "faultcode", code);
    auto faultString = faultNode.append_child("faultstring");
    faultString.append_attribute("xml:lang") = "en-US";
    faultString.append_child(pugi::node_pcdata).set_value(message.c_str());
    return xmlReply(status, serialized(document));
}

pugi::xml_node childByLocalName(pugi::xml_node parent, std::string_view localName)
{
    for (auto child : parent.children()) {
        if (child.type() != pugi::node_element)
            continue;
        std::string_view name = child.name();
        if (auto colon = name.find(':'); colon != std::string_view::npos)
            name.remove_prefix(colon + 1);
        if (name == localName)
            return child;
    }
    return {};
}

std::string textOf(pugi::xml_node node)
{
    std::string text;
    for (auto descendant = node.first_child(); descendant; descendant = descendant.next_sibling()) {
        if (descendant.type() == pugi::node_pcdata || descendant.type() == pugi::node_cdata)
            text += descendant.value();
        else if (descendant.type() == pugi::node_element)
            text += textOf(descendant);
    }
    return text;
}

// The root element is an Envelope in the SOAP 1.1 envelope namespace.
bool isSoapEnvelope(pugi::xml_node envelope)
{
    const std::string_view name = envelope.name();
    const auto colon = name.find(':');
    const std::string_view localName = colon == std::string_view::npos ? name : name.substr(colon + 1);
    const std::string declaration
        = colon == std::string_view::npos ? std::string("xmlns") : "xmlns:" + std::string(name.substr(0, colon));
    return localName == "Envelope" && envelope.attribute(declaration.c_str()).value() == envelopeNamespace;
}

std::optional<QByteArray> readFile(const QString& path, FileKind kind)
{
    const auto contents = readFileWhole(QFile::encodeName(path).toStdString(), kind);
    if (!contents)
        return std::nullopt;
    return QByteArray::fromStdString(*contents);
}

Reply fileReply(Operation operation, const std::string& binaryFileName, const std::string& base64)
{
    pugi::xml_document document;
    auto result = responseResult(document, operation);
    appendText(result, "a:BinaryFileName", binaryFileName);
    appendText(result, "a:InternalFormatData", base64);
    return xmlReply(200, serialized(document));
}

Reply listReply(const Options& options)
{
    pugi::xml_document document;
    auto list = responseResult(document, Operation::GetApprovedAirspacesList).append_child("a:AirspacesList");
    for (const auto& set : approvedSets(options)) {
        auto entry = list.append_child("a:Airspaces");
        appendText(entry, "a:DisplayName", set.displayName);
        appendText(entry, "a:Id", std::to_string(set.id));
    }
    return xmlReply(200, serialized(document));
}

Reply setReply(const Options& options, pugi::xml_node request)
{
    const std::string idText = textOf(childByLocalName(request, "Id"));
    long long id = 0;
    char end = 0;
    if (idText.empty() || std::sscanf(idText.c_str(), "%lld%c", &id, &end) != 1)
        return fault("s:Client", "The request's Id '" + idText + "' is not an integer");

    long long lookup = id;
    if (options.testReplies && (id == missingElementId || id == lineBrokenBase64Id || id == slowReplyId)) {
        auto sets = approvedSets(options);
        if (sets.empty())
            return fault("s:Server", "No approved airspaces to answer the test request with");
        lookup = sets.front().id;
    }
    for (const auto& set : approvedSets(options)) {
        if (set.id != lookup)
            continue;
        auto bytes = readFile(set.path, FileKind::AirspaceSet);
        if (!bytes)
            return fault("s:Server", "The approved airspaces " + std::to_string(set.id) + " cannot be read");
        const ByteView view(reinterpret_cast<const std::uint8_t*>(bytes->constData()), static_cast<std::size_t>(bytes->size()));
        auto name = buildCacheFilenameFromHeader(view);
        if (!name)
            return fault("s:Server", "The approved airspaces " + std::to_string(set.id) + " have no complete header");
        std::string base64 = encodeBase64(view);
        if (options.testReplies && id == missingElementId) {
            pugi::xml_document document;
            appendText(responseResult(document, Operation::GetApprovedAirspaces), "a:BinaryFileName", *name);
            return xmlReply(200, serialized(document));
        }
        if (options.testReplies && id == lineBrokenBase64Id) {
            for (std::size_t at = 76; at < base64.size(); at += 77)
                base64.insert(at, "\n");
        }
        Reply reply = fileReply(Operation::GetApprovedAirspaces, *name, base64);
        if (options.testReplies && id == slowReplyId)
            reply.delay = std::chrono::milliseconds(2000);
        return reply;
    }
    return fault("s:Client", "There are no approved airspaces with the Id " + std::to_string(id));
}

Reply conversionReply(const Options& options, pugi::xml_node request)
{
    const auto contentNode = childByLocalName(request, "OpenAirContent");
    if (!contentNode)
        return fault("s:Client", "The request has no OpenAirContent");
    openair::SetHeader header;
    header.fileName = textOf(childByLocalName(request, "OpenAirFileName"));
    header.description = textOf(childByLocalName(request, "Description"));
    if (options.testReplies && header.description == refusedConversionDescription)
        return fault("s:Server", "The conversion service is not available at the moment");
    header.uploadDate = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    auto converted = openair::convertToInternalFormat(textOf(contentNode), header);
    if (auto* errors = std::get_if<std::vector<openair::Error>>(&converted)) {
        std::string message = "The OpenAir file '" + header.fileName + "' could not be converted:";
        for (const auto& error : *errors)
            message += "\nline " + std::to_string(error.line) + ": " + error.message;
        return fault("s:Client", message);
    }
    const Bytes& bytes = std::get<Bytes>(converted);
    return fileReply(Operation::ConvertOpenAir, buildCacheFilenameFromHeader(bytes).value_or(""), encodeBase64(bytes));
}

QByteArray contentTypeFor(const QString& path)
{
    if (path.endsWith(".xml"))
        return xmlContentType;
    if (path.endsWith(".png"))
        return "image/png";
    if (path.endsWith(".zip"))
        return "application/zip";
    if (path.endsWith(".txt") || path.endsWith(".srec") || path.endsWith(".s19") || path.endsWith(".hex"))
        return "text/plain; charset=us-ascii";
    return "application/octet-stream";
}

void respond(QHttpServerResponder& responder, const Reply& reply)
{
    if (reply.delay.count() > 0)
        QThread::msleep(static_cast<unsigned long>(reply.delay.count()));
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    if (!reply.allow.isEmpty())
        headers.push_back({ "Allow", reply.allow });
    headers.push_back({ "Content-Type", reply.contentType });
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    for (const auto& [key, value] : headers)
        responder.writeHeader(key, value);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeBody(reply.body.constData(), reply.body.size());
}

} // namespace

Reply answerSoapCall(const Options& options, const QByteArray& soapActionHeader, const QByteArray& contentType, const QByteArray& body)
{
    if (!contentType.trimmed().toLower().startsWith("text/xml"))
        return fault("s:Client",
            "Cannot process the message because the content type '" + contentType.toStdString()
                + "' was not the expected type 'text/xml; charset=utf-8'",
            415);
    QByteArray action = soapActionHeader.trimmed();
    if (action.size() >= 2 && action.startsWith('"') && action.endsWith('"'))
        action = action.mid(1, action.size() - 2);
    std::optional<Operation> operation;
    for (auto candidate : { Operation::GetApprovedAirspacesList, Operation::GetApprovedAirspaces, Operation::ConvertOpenAir })
        if (action.toStdString() == soapAction(candidate))
            operation = candidate;
    if (!operation)
        return fault("s:Client",
            "The message with Action '" + action.toStdString() + "' cannot be processed at the receiver: no such operation");

    pugi::xml_document document;
    if (!document.load_buffer(body.constData(), static_cast<std::size_t>(body.size()), pugi::parse_default, pugi::encoding_utf8))
        return fault("s:Client", "The request is not well-formed XML");
    const auto envelope = document.document_element();
    if (!isSoapEnvelope(envelope))
        return fault("s:Client", "The request is not a SOAP 1.1 envelope");
    const auto operationElement = childByLocalName(childByLocalName(envelope, "Body"), operationName(*operation));
    if (!operationElement)
        return fault("s:Client",
            "The body does not hold the element " + std::string(operationName(*operation)) + " that the SOAPAction names");
    const auto request = childByLocalName(operationElement, "request");

    switch (*operation) {
    case Operation::GetApprovedAirspacesList:
        return listReply(options);
    case Operation::GetApprovedAirspaces:
        return setReply(options, request);
    case Operation::ConvertOpenAir:
        return conversionReply(options, request);
    }
    return fault("s:Server", "unreachable");
}

namespace {

// path is absolute in the folder's own terms ("/versions.xml", "/3/4/2.png").
Reply answerFromFolder(const QString& folder, const QString& path)
{
    const Reply notFound { 404, "text/plain; charset=utf-8", "Not found\n", {}, {} };
    if (folder.isEmpty())
        return notFound;
    const QString relative = QDir::cleanPath(path).mid(1);
    // Nothing outside the products folder, and no hidden files.
    if (relative.isEmpty() || relative.startsWith("..") || relative.contains("/.") || relative.startsWith('.'))
        return notFound;
    const QString filePath = QDir(folder).filePath(relative);
    if (!QFileInfo(filePath).isFile())
        return notFound;
    auto bytes = readFile(filePath, FileKind::UpdateArchive);
    if (!bytes)
        return notFound;
    return { 200, contentTypeFor(filePath), *bytes, {}, {} };
}

} // namespace

Reply answerFileRequest(const Options& options, const QString& path)
{
    const QString tilesPrefix = QStringLiteral("/tiles/");
    if (path.startsWith(tilesPrefix))
        return answerFromFolder(options.tilesDirectory, path.mid(tilesPrefix.size() - 1));
    return answerFromFolder(options.productsDirectory, path);
}

VendorServer::VendorServer(Options options)
    : m_options(std::move(options))
{
}

namespace {

// Transfers that a well-behaved server never makes, for the clients' tests (with
// --test-replies): a body without a length, ended by closing the connection, a body
// that stops half-way while the connection stays open, and one byte a second for
// ever under every address that starts with /test/trickle (a feed too), never silent
// long enough for an inactivity time-out.
bool answerBrokenTransfer(const QString& path, QTcpSocket& socket)
{
    const QByteArray body(200000, 'x');
    if (path == QStringLiteral("/test/no-length")) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
        socket.write(body);
        socket.disconnectFromHost();
        return true;
    }
    if (path == QStringLiteral("/test/stall")) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n");
        socket.write(body.left(1000));
        socket.flush();
        return true;
    }
    if (path.startsWith(QStringLiteral("/test/trickle"))) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 1000000\r\n\r\n");
        socket.flush();
        auto* timer = new QTimer(&socket);
        QObject::connect(timer, &QTimer::timeout, &socket, [&socket] { socket.write("x"); });
        timer->start(1000);
        return true;
    }
    return false;
}

} // namespace

bool VendorServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QString path = request.url().path();
    if (m_options.testReplies && request.method() == QHttpServerRequest::Method::Get
        && answerBrokenTransfer(path, *socket)) {
        std::fprintf(stderr, "vendor-server: GET %s -> broken on purpose\n", qPrintable(path));
        return true;
    }
    Reply reply;
    if (path == QString::fromStdString(std::string(VendorEndpoints::airspacesServicePath))) {
        if (request.method() != QHttpServerRequest::Method::Post)
            reply = { 405, "text/plain; charset=utf-8", "The airspaces service takes POST only\n", "POST", {} };
        else
            reply = answerSoapCall(m_options, request.value("SOAPAction"), request.value("Content-Type"), request.body());
    } else if (request.method() == QHttpServerRequest::Method::Get) {
        reply = answerFileRequest(m_options, path);
    } else {
        reply = { 405, "text/plain; charset=utf-8", "Files take GET only\n", "GET", {} };
    }
    std::fprintf(stderr, "vendor-server: %s %s %s -> %d (%s)\n",
        request.method() == QHttpServerRequest::Method::Post ? "POST" : "GET", qPrintable(path),
        request.value("SOAPAction").constData(), reply.status, request.value("User-Agent").constData());
    auto responder = makeResponder(request, socket);
    respond(responder, reply);
    return true;
}

void VendorServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    auto responder = makeResponder(request, socket);
    respond(responder, { 404, "text/plain; charset=utf-8", "Not found\n", {}, {} });
}

} // namespace corvex::vendorserver
