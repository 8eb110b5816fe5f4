#include "base/Sha256.h"

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include <sys/stat.h>

namespace corvex {
namespace {

struct Vector {
    std::string message;
    const char* digest;
};

// The FIPS 180-2 examples, plus the lengths around the padding's block boundary.
const Vector vectors[] = {
    { "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855" },
    { "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" },
    { "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1" },
    { std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0" },
    { std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318" },
    { std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a" },
    { std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb" },
};

TEST(Sha256, KnownVectorsWholeAndInUnevenPieces)
{
    for (const Vector& vector : vectors) {
        EXPECT_EQ(Sha256::hexOf(bytesOf(vector.message)), vector.digest) << vector.message.size();

        // Pieces of 1, 2, 3 ... bytes cross every block boundary at a different offset.
        Sha256 hash;
        std::size_t offset = 0;
        for (std::size_t piece = 1; offset < vector.message.size(); ++piece) {
            const std::size_t length = std::min(piece % 97, vector.message.size() - offset);
            hash.update(std::string_view(vector.message).substr(offset, length));
            offset += length;
        }
        EXPECT_EQ(hash.finishHex(), vector.digest) << vector.message.size();
        // finish leaves the object ready for a new message.
        hash.update("abc");
        EXPECT_EQ(hash.finishHex(), vectors[1].digest);
    }
}

TEST(Sha256, FileDigestMatchesSha256sum)
{
    testing::TemporaryFolder folder("corvex-sha");
    const std::string path = folder.path() + "/random.bin";
    std::mt19937 random(17);
    Bytes contents(300001);
    for (auto& byte : contents)
        byte = static_cast<std::uint8_t>(random());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));

    std::string printed(64, '\0');
    FILE* tool = ::popen(("sha256sum '" + path + "'").c_str(), "r");
    ASSERT_NE(tool, nullptr);
    ASSERT_EQ(std::fread(printed.data(), 1, printed.size(), tool), printed.size());
    ::pclose(tool);

    EXPECT_EQ(Sha256::hexOfFile(path), printed);
    EXPECT_EQ(Sha256::hexOf(contents), printed);
    EXPECT_EQ(Sha256::hexOfFile(folder.path() + "/missing"), std::nullopt);
    EXPECT_EQ(Sha256::hexOfFile(folder.path()), std::nullopt);
    ASSERT_EQ(::mkfifo((folder.path() + "/pipe").c_str(), 0600), 0);
    EXPECT_EQ(Sha256::hexOfFile(folder.path() + "/pipe"), std::nullopt) << "refused, not waited on";
}

TEST(Sha256, DigestTextsCompareWithoutCaseOrBlanks)
{
    EXPECT_TRUE(sameHexDigest(vectors[1].digest, " BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\n"));
    EXPECT_FALSE(sameHexDigest(vectors[1].digest, vectors[0].digest));
    EXPECT_FALSE(sameHexDigest(vectors[1].digest, std::string(vectors[1].digest).substr(0, 63)));
    EXPECT_FALSE(sameHexDigest("", ""));
}

} // namespace
} // namespace corvex
