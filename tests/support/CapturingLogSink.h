#pragma once

#include "platform/LogSink.h"

#include <algorithm>
#include <string>
#include <vector>

namespace corvex::testing {

class CapturingLogSink final : public LogSink {
public:
    void writeLine(std::string_view line) override { lines.emplace_back(line); }

    bool contains(std::string_view line) const
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool containsPrefix(std::string_view prefix) const
    {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    }
    std::size_t count(std::string_view line) const
    {
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }

    std::vector<std::string> lines;
};

} // namespace corvex::testing
