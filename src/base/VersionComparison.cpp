#include "base/VersionComparison.h"

#include <cstddef>

namespace corvex {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The run of digits starting at position, without its leading zeros; position moves
// past the run.
std::string_view digitRun(std::string_view text, std::size_t& position)
{
    const std::size_t start = position;
    while (position < text.size() && isDigit(text[position]))
        ++position;
    std::string_view run = text.substr(start, position - start);
    while (run.size() > 1 && run.front() == '0')
        run.remove_prefix(1);
    return run;
}

} // namespace

VersionOrder compareVersions(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string_view left = digitRun(a, i);
            const std::string_view right = digitRun(b, j);
            // Without leading zeros, the longer run is the larger number.
            if (left.size() != right.size())
                return left.size() < right.size() ? VersionOrder::earlier : VersionOrder::later;
            if (const int order = left.compare(right); order != 0)
                return order < 0 ? VersionOrder::earlier : VersionOrder::later;
            continue;
        }
        const auto left = static_cast<unsigned char>(a[i]);
        const auto right = static_cast<unsigned char>(b[j]);
        if (left != right)
            return left < right ? VersionOrder::earlier : VersionOrder::later;
        ++i;
        ++j;
    }
    if (i < a.size())
        return VersionOrder::later;
    if (j < b.size())
        return VersionOrder::earlier;
    return VersionOrder::same;
}

} // namespace corvex
