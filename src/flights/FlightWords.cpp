#include "flights/FlightWords.h"

#include <cctype>
#include <utility>

namespace corvex::flights {

std::string contestTypeTitle(std::string_view id)
{
    static constexpr std::pair<std::string_view, std::string_view> titles[] = {
        { "free_flight", "Free flight" },
        { "free_triangle", "Free triangle" },
        { "fai_triangle", "FAI triangle" },
        { "closed_free_triangle", "Closed free triangle" },
        { "closed_fai_triangle", "Closed FAI triangle" },
    };
    for (const auto& [known, title] : titles)
        if (id == known)
            return std::string(title);
    std::string words(id);
    for (char& c : words)
        if (c == '_')
            c = ' ';
    if (!words.empty())
        words[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(words[0])));
    return words;
}

} // namespace corvex::flights
