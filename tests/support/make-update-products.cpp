// update-products FOLDER BASE_URL ID=VERSION ...
//
// Writes a products folder for the stand-in vendor server: a firmware file for every
// id that holds "fw" (ID=VERSION:LINES sets its number of lines), a program zip for
// every other id, and versions.xml listing them with their addresses under BASE_URL
// and their sha256 and Ed25519 signature, made with the TEST key beside this file
// (update-signing-TEST-ONLY-key.pem). The program accepts them only when it trusts
// that key: CORVEX_UPDATE_PUBLIC_KEYS as printed.
#include "TestUpdateKey.h"
#include "UpdateProducts.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr,
            "usage: %s FOLDER BASE_URL ID=VERSION[:LINES] ...\n"
            "  e.g. %s /tmp/products http://127.0.0.1:8917 larkswMac=9.9.0 larkfw_asp=1.400 wrenfw_asp=2.500:250\n",
            argv[0], argv[0]);
        return 2;
    }
    using corvex::testing::UpdateProducts;
    std::vector<UpdateProducts::Entry> entries;
    for (int i = 3; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto equals = argument.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::fprintf(stderr, "%s: expected ID=VERSION, got %s\n", argv[0], argv[i]);
            return 2;
        }
        const std::string id = argument.substr(0, equals);
        std::string version = argument.substr(equals + 1);
        int lines = 120;
        if (const auto colon = version.find(':'); colon != std::string::npos) {
            lines = std::stoi(version.substr(colon + 1));
            version.resize(colon);
        }
        entries.push_back(id.find("fw") != std::string::npos ? UpdateProducts::firmware(id, version, lines)
                                                              : UpdateProducts::software(id, version));
    }
    const auto products = UpdateProducts::make(argv[1], argv[2], entries);
    for (const auto& product : products.products())
        std::printf("%s %s %s sha256=%s\n", product.id.c_str(), product.version.c_str(), product.url.c_str(),
            product.sha256.c_str());
    std::printf("Signed with the test key: export CORVEX_UPDATE_PUBLIC_KEYS=%s\n", corvex::testing::testUpdatePublicKey);
    return 0;
}
