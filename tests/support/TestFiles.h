#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace corvex::testing {

// A whole file's bytes as a string; empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// A file of the shared test data written by others, e.g. "openair/france.txt".
inline std::string readTestFile(const std::string& relativePath)
{
    return readFile(std::string(CORVEX_TESTDATA_DIR) + "/" + relativePath);
}

} // namespace corvex::testing
