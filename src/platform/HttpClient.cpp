#include "platform/HttpClient.h"

#include <algorithm>
#include <cctype>

namespace corvex {

std::optional<std::string> HttpResponse::header(std::string_view name) const
{
    const auto sameLetters = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
        });
    };
    for (const auto& [key, value] : headers) {
        if (sameLetters(key, name))
            return value;
    }
    return std::nullopt;
}

} // namespace corvex
