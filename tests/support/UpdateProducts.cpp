#include "UpdateProducts.h"

#include "TestUpdateKey.h"
#include "base/Sha256.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <zip.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace corvex::testing {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "UpdateProducts: %s\n", what.c_str());
    std::abort();
}

Bytes readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, ByteView bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        fail("cannot write " + path);
}

// A scratch folder removed on the way out.
struct Scratch {
    Scratch()
    {
        std::string name = "/tmp/corvex-products-XXXXXX";
        if (!::mkdtemp(name.data()))
            fail("cannot make a scratch folder");
        path = name;
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

void run(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(arguments[0] + " failed (is the srecord package installed?)");
}

std::string xmlEscaped(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&apos;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

} // namespace

std::string sha256Hex(ByteView bytes)
{
    return Sha256::hexOf(bytes);
}

std::string signUpdateFile(ByteView bytes, const std::string& privateKeyPem)
{
    EVP_PKEY* key = nullptr;
    if (privateKeyPem.empty()) {
        EVP_PKEY_CTX* generator = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
        if (!generator || EVP_PKEY_keygen_init(generator) != 1 || EVP_PKEY_keygen(generator, &key) != 1)
            fail("cannot make an Ed25519 key");
        EVP_PKEY_CTX_free(generator);
    } else {
        FILE* file = std::fopen(privateKeyPem.c_str(), "r");
        if (!file)
            fail("cannot read the signing key " + privateKeyPem);
        key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
        std::fclose(file);
        if (!key)
            fail("no private key in " + privateKeyPem);
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::array<unsigned char, 64> signature {};
    std::size_t length = signature.size();
    const bool signedIt = context && EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key) == 1
        && EVP_DigestSign(context, signature.data(), &length, bytes.data(), bytes.size()) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    if (!signedIt || length != signature.size())
        fail("cannot sign with Ed25519");
    std::string encoded(4 * ((signature.size() + 2) / 3), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), signature.data(), static_cast<int>(signature.size()));
    return encoded;
}

std::string UpdateProducts::firmwareText(const std::string& version, int lines)
{
    // The header, the data records, the record count and the end record.
    if (lines < 4)
        fail("a firmware file needs at least 4 lines");
    const int dataRecords = lines - 3;
    constexpr int bytesPerRecord = 16;
    Bytes binary(static_cast<std::size_t>(dataRecords * bytesPerRecord));
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
    Scratch scratch;
    const std::string input = scratch.path + "/firmware.bin";
    const std::string output = scratch.path + "/firmware.s19";
    writeAll(input, binary);
    run({ "srec_cat", input, "-binary", "-offset", "0x8000", "-execution-start-address=0x8000", "-o", output,
        "-motorola", "-obs=" + std::to_string(bytesPerRecord), "-header", "Corvex firmware " + version });
    const Bytes text = readAll(output);
    return std::string(text.begin(), text.end());
}

Bytes UpdateProducts::zipArchive(const std::vector<File>& files)
{
    Scratch scratch;
    const std::string path = scratch.path + "/archive.zip";
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        fail("libzip cannot create " + path);
    for (const File& file : files) {
        zip_source_t* source = zip_source_buffer(archive, file.contents.data(), file.contents.size(), 0);
        const zip_int64_t index = source ? zip_file_add(archive, file.path.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            zip_source_free(source);
            fail("libzip cannot add " + file.path);
        }
        const mode_t mode = file.symbolicLink ? (S_IFLNK | 0777) : (S_IFREG | (file.executable ? 0755 : 0644));
        zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
            static_cast<zip_uint32_t>(mode) << 16);
    }
    // The buffers are read here, while the files still live.
    if (zip_close(archive) != 0)
        fail("libzip cannot write " + path);
    return readAll(path);
}

UpdateProducts::Entry UpdateProducts::firmware(std::string id, std::string version, int lines)
{
    Entry entry;
    entry.id = std::move(id);
    entry.version = std::move(version);
    entry.kind = Entry::Kind::firmware;
    entry.firmwareLines = lines;
    return entry;
}

UpdateProducts::Entry UpdateProducts::software(std::string id, std::string version)
{
    Entry entry;
    entry.id = std::move(id);
    entry.version = std::move(version);
    entry.kind = Entry::Kind::software;
    entry.files = {
        { "corvex-vario/bin/corvex-vario", "#!/bin/sh\necho corvex-vario " + entry.version + "\n", true, false },
        { "corvex-vario/share/VERSION", entry.version + "\n", false, false },
    };
    return entry;
}

UpdateProducts::Entry UpdateProducts::raw(std::string id, std::string version, std::string fileName, Bytes contents)
{
    Entry entry;
    entry.id = std::move(id);
    entry.version = std::move(version);
    entry.fileName = std::move(fileName);
    entry.contents = std::move(contents);
    return entry;
}

UpdateProducts UpdateProducts::make(const std::string& folder, const std::string& baseUrl, const std::vector<Entry>& entries)
{
    UpdateProducts made;
    made.m_folder = folder;
    std::filesystem::create_directories(folder);
    std::string base = baseUrl;
    while (!base.empty() && base.back() == '/')
        base.pop_back();

    std::ostringstream feed;
    feed << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<corvex>\n  <products>\n";
    for (const Entry& entry : entries) {
        Product product;
        product.id = entry.id;
        product.version = entry.version;
        product.fileName = entry.fileName;
        switch (entry.kind) {
        case Entry::Kind::firmware: {
            const std::string text = firmwareText(entry.version, entry.firmwareLines);
            product.contents.assign(text.begin(), text.end());
            if (product.fileName.empty())
                product.fileName = entry.id + "-" + entry.version + ".s19";
            break;
        }
        case Entry::Kind::software:
            product.contents = zipArchive(entry.files);
            if (product.fileName.empty())
                product.fileName = entry.id + "-" + entry.version + ".zip";
            break;
        case Entry::Kind::raw:
            product.contents = entry.contents;
            if (product.fileName.empty())
                product.fileName = entry.id + "-" + entry.version;
            break;
        }
        for (const std::uint8_t byte : product.contents)
            product.lineCount += byte == '\n' ? 1 : 0;
        if (entry.kind != Entry::Kind::firmware)
            product.lineCount = 0;
        product.path = folder + "/" + product.fileName;
        product.url = base + "/" + product.fileName;
        product.sha256 = sha256Hex(product.contents);
        if (entry.signer != Entry::Signer::nobody)
            product.signature = signUpdateFile(
                product.contents, entry.signer == Entry::Signer::testKey ? testUpdateSigningKeyPath : std::string());
        writeAll(product.path, product.contents);

        feed << "    <product id=\"" << xmlEscaped(entry.id) << "\" version=\"" << xmlEscaped(entry.version) << "\"";
        if (entry.withUrl)
            feed << " url=\"" << xmlEscaped(product.url) << "\"";
        if (entry.withSha256)
            feed << " sha256=\"" << product.sha256 << "\"";
        if (!product.signature.empty())
            feed << " signature=\"" << product.signature << "\"";
        feed << "/>\n";
        made.m_products.push_back(std::move(product));
    }
    feed << "  </products>\n</corvex>\n";
    const std::string feedText = feed.str();
    writeAll(made.feedPath(), Bytes(feedText.begin(), feedText.end()));
    return made;
}

const UpdateProducts::Product& UpdateProducts::product(const std::string& id) const
{
    for (const Product& product : m_products)
        if (product.id == id)
            return product;
    fail("no product " + id);
}

} // namespace corvex::testing
