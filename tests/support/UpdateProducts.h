#pragma once

#include "base/Bytes.h"

#include <string>
#include <utility>
#include <vector>

namespace corvex::testing {

// A products folder for the stand-in vendor server, built at test time: real
// S-record firmware files (made with Debian's srec_cat from a binary), zips of a
// program folder (written with libzip), and a versions.xml that lists them with a
// sha256 attribute and an Ed25519 signature each, made with the TEST signing key
// (TestUpdateKey.h; trustTestUpdateKey() makes the program accept it).
//
//     auto products = UpdateProducts::make(server.productsDirectory().toStdString(),
//         server.baseUrl().toStdString(),
//         { UpdateProducts::firmware("wrenfw_asp", "2.410"), UpdateProducts::software("larkswMac", "9.9.0") });
//     products.product("wrenfw_asp").url  // what the feed offers
class UpdateProducts {
public:
    struct File {
        std::string path; // inside the archive, as it is written (may be "../x")
        std::string contents; // a link's target for a symbolic link
        bool executable { false };
        bool symbolicLink { false };
    };

    struct Entry {
        std::string id; // "larkfw_asp", "larkswMac", ...
        std::string version; // the feed's version attribute
        enum class Kind { firmware, software, raw } kind { Kind::raw };
        // Firmware: the number of S-record lines in the file, S0 header, S5 count and
        // S9 end record included (at least 4). The header's text names the version
        // ("Corvex firmware 2.410"), which the virtual instrument reboots onto.
        int firmwareLines { 120 };
        // Software: the archive's entries; empty gives a program folder of its own
        // (see software()).
        std::vector<File> files {};
        // Raw: served as it is (an error page, a damaged file).
        Bytes contents {};
        // The served file's name; "<id>-<version>.s19" or ".zip" when empty.
        std::string fileName {};
        // Leave attributes out of the feed's entry.
        bool withUrl { true };
        bool withSha256 { true };
        // Who signs the file: the test key, nobody (no signature attribute), or a key
        // made for this run that nobody trusts.
        enum class Signer { testKey, nobody, unknownKey } signer { Signer::testKey };
    };

    struct Product {
        std::string id;
        std::string version;
        std::string fileName;
        std::string path; // on disk
        std::string url; // as the feed gives it
        std::string sha256; // lower-case hexadecimal of the file
        std::string signature; // base64, as the feed gives it; empty when unsigned
        Bytes contents;
        int lineCount { 0 }; // S-record lines of a firmware file
    };

    // Writes every entry's file and versions.xml into folder; the feed's addresses
    // start with baseUrl. Aborts the test program when srec_cat or libzip fail.
    static UpdateProducts make(const std::string& folder, const std::string& baseUrl, const std::vector<Entry>& entries);

    static Entry firmware(std::string id, std::string version, int lines = 120);
    // A program folder "corvex-vario/" (the name of an installed one) holding
    // bin/corvex-vario, a shell script that prints "corvex-vario <version>", and
    // share/VERSION.
    static Entry software(std::string id, std::string version);
    static Entry raw(std::string id, std::string version, std::string fileName, Bytes contents);

    // The S-record text made from a binary of the given lines, as make() writes it.
    static std::string firmwareText(const std::string& version, int lines);
    // A zip archive of the files, as make() writes it.
    static Bytes zipArchive(const std::vector<File>& files);

    const std::string& folder() const { return m_folder; }
    std::string feedPath() const { return m_folder + "/versions.xml"; }
    const std::vector<Product>& products() const { return m_products; }
    // The product of that id; aborts when there is none.
    const Product& product(const std::string& id) const;

private:
    std::string m_folder;
    std::vector<Product> m_products;
};

std::string sha256Hex(ByteView bytes);

// The raw Ed25519 signature of the bytes in base64: with the private key of that PEM
// file, or with a key made for this call and thrown away when the path is empty.
std::string signUpdateFile(ByteView bytes, const std::string& privateKeyPem);

} // namespace corvex::testing
