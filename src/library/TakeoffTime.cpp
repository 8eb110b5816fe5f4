#include "library/TakeoffTime.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace corvex::library {

namespace {

constexpr std::size_t headBytes = 64 * 1024;
constexpr int largestOffsetMinutes = 14 * 60;

// "+2", "2.00", "-3.5", "+05:45", "UTC+1": hours, with a fraction or minutes.
std::optional<int> offsetMinutes(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    for (const std::string_view zone : { "UTC", "GMT" })
        if (text.substr(0, zone.size()) == zone)
            text.remove_prefix(zone.size());
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    double minutes = 0;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        int hours = 0;
        int rest = 0;
        const auto [hoursEnd, hoursError] = std::from_chars(text.data(), text.data() + colon, hours);
        const auto [restEnd, restError] = std::from_chars(text.data() + colon + 1, text.data() + text.size(), rest);
        if (hoursError != std::errc {} || hoursEnd != text.data() + colon || restError != std::errc {}
            || restEnd != text.data() + text.size() || rest >= 60 || colon + 1 == text.size())
            return std::nullopt;
        minutes = hours * 60.0 + rest;
    } else {
        double hours = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), hours);
        if (error != std::errc {} || end != text.data() + text.size() || !std::isfinite(hours))
            return std::nullopt;
        minutes = hours * 60;
    }
    if (minutes > largestOffsetMinutes)
        return std::nullopt;
    const int rounded = static_cast<int>(std::lround(minutes));
    return negative ? -rounded : rounded;
}

} // namespace

std::optional<int> igcTimeZoneMinutes(std::string_view igcText)
{
    std::size_t start = 0;
    while (start < igcText.size()) {
        std::size_t end = igcText.find('\n', start);
        if (end == std::string_view::npos)
            end = igcText.size();
        const std::string_view line = igcText.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.front() == 'B')
            break; // the header is over
        // H, the source (F: the recorder, O: the observer, P: the pilot), then TZN.
        if (line.size() < 5 || line[0] != 'H' || line.substr(2, 3) != "TZN")
            continue;
        std::string_view value = line.substr(5);
        if (const auto colon = value.find(':'); colon != std::string_view::npos)
            value.remove_prefix(colon + 1);
        else
            while (!value.empty() && ((value.front() >= 'A' && value.front() <= 'Z') || (value.front() >= 'a' && value.front() <= 'z')))
                value.remove_prefix(1);
        return offsetMinutes(value);
    }
    return std::nullopt;
}

std::optional<int> igcFileTimeZoneMinutes(const std::string& path)
{
    // Only the head: a log book of many flights reads as many headers, not whole tracks.
    // O_NONBLOCK so that a named pipe put in place of a file never holds the listing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    // A few kilobytes at a time, up to the first fix: the header is all that is needed.
    std::string head(headBytes, '\0');
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, std::min<std::size_t>(4096, head.size() - got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
        if (std::string_view(head.data(), got).find("\nB") != std::string_view::npos)
            break;
    }
    ::close(fd);
    head.resize(got);
    return igcTimeZoneMinutes(head);
}

std::string localIsoTime(std::int64_t utc, std::optional<int> offsetMinutes)
{
    const auto when = static_cast<std::time_t>(utc);
    long offsetSeconds = 0;
    if (offsetMinutes) {
        offsetSeconds = *offsetMinutes * 60L;
    } else {
        std::tm local {};
        if (::localtime_r(&when, &local))
            offsetSeconds = local.tm_gmtoff;
    }
    const std::time_t shifted = when + offsetSeconds;
    std::tm fields {};
    ::gmtime_r(&shifted, &fields);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &fields);
    const long minutes = std::labs(offsetSeconds) / 60;
    char offset[16];
    std::snprintf(offset, sizeof offset, "%c%02ld:%02ld", offsetSeconds < 0 ? '-' : '+', minutes / 60 % 100, minutes % 60);
    return std::string(date) + offset;
}

} // namespace corvex::library
