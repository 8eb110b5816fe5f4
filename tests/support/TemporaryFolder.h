#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace corvex::testing {

// A fresh folder under /tmp for one test's state, removed with everything in it.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix = "corvex-test")
    {
        std::string name = "/tmp/" + prefix + "-XXXXXX";
        m_path = ::mkdtemp(name.data()) ? name : "";
    }
    ~TemporaryFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace corvex::testing
