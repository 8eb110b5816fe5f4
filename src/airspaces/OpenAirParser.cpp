#include "airspaces/OpenAirParser.h"

#include "airspaces/Airspaces.h"
#include "base/Format.h"
#include "base/Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace corvex::openair {

namespace {

constexpr std::size_t maximumErrors = 1000;

using geo::degrees;
using geo::radians;

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (isBlank(text.front()) || text.front() == '\v' || text.front() == '\f'))
        text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\v' || text.back() == '\f'))
        text.remove_suffix(1);
    return text;
}

std::string uppercase(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), upper);
    return result;
}

std::optional<double> parseNumber(std::string_view text)
{
    text = trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.push_back(trim(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start)));
        if (at == std::string_view::npos)
            return parts;
        start = at + 1;
    }
}

// "DD", "DD:MM", "DD:MM:SS", the last part possibly with decimals, then the
// hemisphere letter. Consumes what it reads.
std::optional<double> parseAngle(std::string_view& text, char positive, char negative, double limit)
{
    std::size_t length = 0;
    while (length < text.size() && (isDigit(text[length]) || text[length] == ':' || text[length] == '.'))
        ++length;
    const std::string_view number = text.substr(0, length);
    text.remove_prefix(length);
    text = trim(text);
    if (number.empty() || text.empty())
        return std::nullopt;
    const char hemisphere = upper(text.front());
    if (hemisphere != positive && hemisphere != negative)
        return std::nullopt;
    text.remove_prefix(1);

    const auto parts = splitOn(number, ':');
    if (parts.size() > 3)
        return std::nullopt;
    double value = 0;
    double scale = 1;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        // Only the last part may carry decimals.
        if (i + 1 < parts.size() && parts[i].find('.') != std::string_view::npos)
            return std::nullopt;
        auto part = parseNumber(parts[i]);
        if (!part || *part < 0 || (i > 0 && *part > 60)) // seconds of 60 occur in real files
            return std::nullopt;
        value += *part / scale;
        scale *= 60;
    }
    if (value > limit)
        return std::nullopt;
    return hemisphere == negative ? -value : value;
}

std::optional<GeoPoint> parseCoordinatePrefix(std::string_view& text)
{
    text = trim(text);
    auto latitude = parseAngle(text, 'N', 'S', 90);
    if (!latitude)
        return std::nullopt;
    text = trim(text);
    if (!text.empty() && text.front() == ',')
        text = trim(text.substr(1));
    auto longitude = parseAngle(text, 'E', 'W', 180);
    if (!longitude)
        return std::nullopt;
    return GeoPoint { *latitude, *longitude };
}

// A trailing "* comment" after a command's argument.
std::string_view withoutTrailingComment(std::string_view text)
{
    auto star = text.find('*');
    return trim(star == std::string_view::npos ? text : text.substr(0, star));
}

struct Token {
    bool isNumber { false };
    std::string text;
    double value { 0 };
};

std::optional<std::vector<Token>> altitudeTokens(std::string_view text)
{
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (isBlank(c)) {
            ++i;
        } else if (isDigit(c) || c == '.') {
            std::size_t start = i;
            while (i < text.size() && (isDigit(text[i]) || text[i] == '.'))
                ++i;
            auto value = parseNumber(text.substr(start, i - start));
            if (!value)
                return std::nullopt;
            tokens.push_back({ true, std::string(text.substr(start, i - start)), *value });
        } else if (isLetter(c)) {
            std::size_t start = i;
            while (i < text.size() && isLetter(text[i]))
                ++i;
            tokens.push_back({ false, uppercase(text.substr(start, i - start)), 0 });
        } else {
            return std::nullopt;
        }
    }
    return tokens;
}

bool isOneOf(const std::string& word, std::initializer_list<std::string_view> words)
{
    return std::find(words.begin(), words.end(), word) != words.end();
}

struct Builder {
    std::vector<Airspace> airspaces;
    std::vector<Error> errors;
    std::optional<Airspace> current;
    std::optional<GeoPoint> centre;
    bool clockwise { true };
    std::size_t errorsBeforeCurrent { 0 };
    // The bytes of the set in the instrument's format so far, for the airspaces kept.
    std::size_t setSize { airspacesFormat::headerSize };

    // The set that the lines so far make, with the airspace being read.
    std::size_t sizeSoFar() const
    {
        if (!current)
            return setSize;
        return setSize + airspacesFormat::segmentHeaderSize + airspacesFormat::endIndexSize
            + airspacesFormat::pointSize * current->outline.size();
    }

    bool radiusTooLarge(std::size_t line, std::string_view command, double nauticalMiles)
    {
        if (nauticalMiles <= largestRadiusNauticalMiles)
            return false;
        error(line, formatString("%s radius of %.6g NM is larger than any airspace (at most %.0f NM)", std::string(command).c_str(),
            nauticalMiles, largestRadiusNauticalMiles));
        return true;
    }

    void error(std::size_t line, std::string message) { errors.push_back({ line, std::move(message) }); }

    void finish()
    {
        if (!current)
            return;
        auto& outline = current->outline;
        // A polygon closed by repeating its first point: the ring closes itself.
        while (outline.size() > 1 && std::abs(outline.front().latitude - outline.back().latitude) < 1e-9
            && std::abs(outline.front().longitude - outline.back().longitude) < 1e-9)
            outline.pop_back();
        const std::string label = current->name.empty() ? std::string("(no name)") : "'" + current->name + "'";
        // One or two points are kept: real files describe cables that way.
        if (outline.empty() && errors.size() == errorsBeforeCurrent)
            error(current->line, "airspace " + label + " has no DP, DA, DB or DC line");
        else if (!outline.empty()) {
            setSize += airspacesFormat::segmentHeaderSize + (outline.size() < 3 ? airspacesFormat::endIndexSize : 0)
                + airspacesFormat::pointSize * outline.size();
            airspaces.push_back(std::move(*current));
        }
        current.reset();
    }

    bool needAirspace(std::size_t line, std::string_view command)
    {
        if (current)
            return true;
        error(line, std::string(command) + " before the first AC line");
        return false;
    }

    bool needCentre(std::size_t line, std::string_view command)
    {
        if (centre)
            return true;
        error(line, std::string(command) + " without a centre: a V X= line must come first in this airspace");
        return false;
    }

    void arc(GeoPoint centrePoint, double radius, double startBearing, double endBearing, bool isClockwise,
        std::optional<GeoPoint> exactStart, std::optional<GeoPoint> exactEnd)
    {
        double sweep = isClockwise ? std::fmod(endBearing - startBearing + 720.0, 360.0)
                                   : std::fmod(startBearing - endBearing + 720.0, 360.0);
        if (sweep < 1e-9)
            sweep = 360.0;
        const int steps = std::max(1, static_cast<int>(std::ceil(sweep / arcStepDegrees(radius) - 1e-9)));
        const double direction = isClockwise ? 1.0 : -1.0;
        for (int k = 0; k <= steps; ++k) {
            if (k == 0 && exactStart)
                current->outline.push_back(*exactStart);
            else if (k == steps && exactEnd)
                current->outline.push_back(*exactEnd);
            else
                current->outline.push_back(
                    destination(centrePoint, startBearing + direction * sweep * k / steps, radius));
        }
    }

    void line(std::size_t number, std::string_view text)
    {
        text = trim(text);
        if (text.empty() || text.front() == '*')
            return;
        std::size_t split = 0;
        while (split < text.size() && !isBlank(text[split]))
            ++split;
        const std::string command = uppercase(text.substr(0, split));
        const std::string_view argument = trim(text.substr(split));

        if (command == "AC") {
            finish();
            current = Airspace {};
            current->airspaceClass = std::string(argument);
            current->line = number;
            errorsBeforeCurrent = errors.size();
            centre.reset();
            clockwise = true;
        } else if (command == "AN") {
            if (needAirspace(number, command))
                current->name = std::string(argument);
        } else if (command == "AL" || command == "AH") {
            if (!needAirspace(number, command))
                return;
            auto altitude = parseAltitude(withoutTrailingComment(argument));
            if (!altitude) {
                error(number, command + " altitude '" + std::string(argument) + "' is not understood");
                return;
            }
            if (altitude->feet > highestAltitudeFeet) {
                error(number, formatString("%s altitude '%s' is higher than any airspace reaches (at most %.0f ft; UNL says unlimited)",
                    command.c_str(), std::string(argument).c_str(), highestAltitudeFeet));
                return;
            }
            (command == "AL" ? current->floor : current->ceiling) = std::move(*altitude);
        } else if (command == "DP") {
            if (!needAirspace(number, command))
                return;
            auto point = parseCoordinate(withoutTrailingComment(argument));
            if (!point) {
                error(number, "DP coordinate '" + std::string(argument) + "' is not understood");
                return;
            }
            current->outline.push_back(*point);
        } else if (command == "V") {
            const auto equals = argument.find('=');
            if (equals == std::string_view::npos) {
                error(number, "V line '" + std::string(argument) + "' has no '='");
                return;
            }
            const std::string key = uppercase(trim(argument.substr(0, equals)));
            const std::string_view value = withoutTrailingComment(argument.substr(equals + 1));
            if (key == "X") {
                auto point = parseCoordinate(value);
                if (!point) {
                    error(number, "V X= centre '" + std::string(value) + "' is not understood");
                    return;
                }
                centre = point;
            } else if (key == "D") {
                if (value == "+")
                    clockwise = true;
                else if (value == "-")
                    clockwise = false;
                else
                    error(number, "V D= direction '" + std::string(value) + "' is neither + nor -");
            }
            // V W= (airway width) and V Z= (display zoom) do not change the outline.
        } else if (command == "DA") {
            if (!needAirspace(number, command) || !needCentre(number, command))
                return;
            const auto parts = splitOn(withoutTrailingComment(argument), ',');
            std::optional<double> radius, start, end;
            if (parts.size() == 3) {
                radius = parseNumber(parts[0]);
                start = parseNumber(parts[1]);
                end = parseNumber(parts[2]);
            }
            if (!radius || !start || !end || *radius <= 0 || std::abs(*start) > 360 || std::abs(*end) > 360) {
                error(number, "DA needs a radius in nautical miles and two bearings: '" + std::string(argument) + "'");
                return;
            }
            if (radiusTooLarge(number, command, *radius))
                return;
            arc(*centre, *radius * metresPerNauticalMile, *start, *end, clockwise, std::nullopt, std::nullopt);
        } else if (command == "DB") {
            if (!needAirspace(number, command) || !needCentre(number, command))
                return;
            std::string_view rest = withoutTrailingComment(argument);
            auto from = parseCoordinatePrefix(rest);
            rest = trim(rest);
            if (from && !rest.empty() && rest.front() == ',')
                rest.remove_prefix(1);
            auto to = from ? parseCoordinatePrefix(rest) : std::nullopt;
            if (!from || !to || !trim(rest).empty()) {
                error(number, "DB needs two coordinates separated by a comma: '" + std::string(argument) + "'");
                return;
            }
            const double radius = distanceMetres(*centre, *from);
            if (radius < 1.0) {
                error(number, "DB arc starts at its own centre");
                return;
            }
            if (radiusTooLarge(number, command, radius / metresPerNauticalMile))
                return;
            arc(*centre, radius, initialBearing(*centre, *from), initialBearing(*centre, *to), clockwise, from, to);
        } else if (command == "DC") {
            if (!needAirspace(number, command) || !needCentre(number, command))
                return;
            auto radius = parseNumber(withoutTrailingComment(argument));
            if (!radius || *radius <= 0) {
                error(number, "DC radius '" + std::string(argument) + "' is not a positive number of nautical miles");
                return;
            }
            if (radiusTooLarge(number, command, *radius))
                return;
            const double metres = *radius * metresPerNauticalMile;
            const double step = 360.0 / std::ceil(360.0 / arcStepDegrees(metres) - 1e-9);
            for (double bearing = 0; bearing < 360.0 - 1e-9; bearing += step)
                current->outline.push_back(destination(*centre, bearing, metres));
        }
        // Everything else (AR, AF, AY, AI, AT, TO, TC, SP, SB, DY, …) carries nothing
        // the instrument's outlines need.
    }
};

} // namespace

std::string decodeFileText(std::string_view bytes)
{
    if (bytes.starts_with("\xef\xbb\xbf"))
        bytes.remove_prefix(3);
    if (isValidUtf8(bytes))
        return std::string(bytes);
    return latin1ToUtf8(bytes);
}

ParseResult parse(std::string_view text)
{
    if (text.starts_with("\xef\xbb\xbf"))
        text.remove_prefix(3);
    Builder builder;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        // CR LF, LF and a lone CR all end a line; files mix them.
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        builder.line(++number, text.substr(start, end - start));
        // A file of nothing but mistakes is not read to its end: the first thousand
        // say enough.
        if (builder.errors.size() >= maximumErrors) {
            builder.error(number, "more than " + std::to_string(maximumErrors) + " mistakes: the file is read no further");
            return { std::move(builder.airspaces), std::move(builder.errors) };
        }
        // A file that makes a set larger than any instrument holds is refused here,
        // before its outlines fill the memory.
        if (builder.sizeSoFar() > airspacesFormat::largestSetSize) {
            builder.error(number, formatString("the airspaces up to this line take more than %zu bytes, the most an instrument holds",
                airspacesFormat::largestSetSize));
            builder.current.reset();
            return { std::move(builder.airspaces), std::move(builder.errors) };
        }
        if (end == text.size())
            break;
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    builder.finish();
    return { std::move(builder.airspaces), std::move(builder.errors) };
}

std::optional<Altitude> parseAltitude(std::string_view written)
{
    using Reference = Altitude::Reference;
    const std::string_view text = trim(written);
    auto tokens = altitudeTokens(text);
    if (!tokens || tokens->empty())
        return std::nullopt;
    Altitude altitude;
    altitude.text = std::string(text);
    const auto& first = tokens->front();

    if (!first.isNumber && first.text == "FL") {
        if (tokens->size() != 2 || !(*tokens)[1].isNumber)
            return std::nullopt;
        altitude.reference = Reference::StandardPressure;
        altitude.feet = (*tokens)[1].value * 100;
        return altitude;
    }
    if (!first.isNumber) {
        const bool hasNumber = std::any_of(tokens->begin(), tokens->end(), [](const Token& t) { return t.isNumber; });
        if (hasNumber)
            return std::nullopt;
        if (isOneOf(first.text, { "GND", "SFC", "AGL" }) && tokens->size() == 1) {
            altitude.reference = Reference::Ground;
        } else if (isOneOf(first.text, { "UNL", "UNLIM", "UNLIMITED" })
            && (tokens->size() == 1 || (tokens->size() == 2 && isOneOf((*tokens)[1].text, { "FT", "F" })))) {
            altitude.reference = Reference::Unlimited;
        } else {
            // Words such as "NOTAM" or "BCTA": the level is published elsewhere.
            altitude.reference = Reference::Unspecified;
        }
        return altitude;
    }

    double value = first.value;
    std::optional<Reference> reference;
    bool haveUnit = false;
    bool metres = false;
    for (std::size_t i = 1; i < tokens->size(); ++i) {
        const auto& token = (*tokens)[i];
        if (token.isNumber)
            return std::nullopt;
        if (isOneOf(token.text, { "FT", "F", "FEET" }) && !haveUnit) {
            haveUnit = true;
        } else if (isOneOf(token.text, { "M", "METER", "METERS", "METRE", "METRES" }) && !haveUnit) {
            haveUnit = true;
            metres = true;
        } else if (isOneOf(token.text, { "MSL", "AMSL" }) && !reference) {
            reference = Reference::MeanSeaLevel;
        } else if (isOneOf(token.text, { "AGL", "GND", "SFC", "ASFC" }) && !reference) {
            reference = Reference::Ground;
        } else if (token.text == "STD" && !reference) {
            reference = Reference::StandardPressure;
        } else {
            return std::nullopt;
        }
    }
    altitude.feet = metres ? value / 0.3048 : value;
    altitude.reference = reference.value_or(Reference::MeanSeaLevel);
    return altitude;
}

std::optional<GeoPoint> parseCoordinate(std::string_view text)
{
    auto point = parseCoordinatePrefix(text);
    if (!point || !trim(text).empty())
        return std::nullopt;
    return point;
}

GeoPoint destination(GeoPoint from, double bearingDegrees, double distance)
{
    const double phi1 = radians(from.latitude);
    const double lambda1 = radians(from.longitude);
    const double theta = radians(bearingDegrees);
    const double delta = distance / geo::meanEarthRadiusMetres;
    const double phi2 = std::asin(std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(theta));
    double lambda2 = lambda1
        + std::atan2(std::sin(theta) * std::sin(delta) * std::cos(phi1), std::cos(delta) - std::sin(phi1) * std::sin(phi2));
    // At a pole both arguments above are the rounding of nothing: the same angle with
    // cos(phi1) divided out keeps a circle around the pole a circle.
    if (std::abs(from.latitude) > 89.999)
        lambda2 = lambda1
            + std::atan2(std::sin(theta) * std::sin(delta),
                std::cos(phi1) * std::cos(delta) - std::sin(phi1) * std::sin(delta) * std::cos(theta));
    double longitude = std::fmod(degrees(lambda2) + 540.0, 360.0) - 180.0;
    return { degrees(phi2), longitude };
}

double initialBearing(GeoPoint from, GeoPoint to)
{
    const double phi1 = radians(from.latitude);
    const double phi2 = radians(to.latitude);
    const double deltaLambda = radians(to.longitude - from.longitude);
    const double y = std::sin(deltaLambda) * std::cos(phi2);
    const double x = std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(deltaLambda);
    return std::fmod(degrees(std::atan2(y, x)) + 360.0, 360.0);
}

double distanceMetres(GeoPoint from, GeoPoint to)
{
    const double phi1 = radians(from.latitude);
    const double phi2 = radians(to.latitude);
    const double deltaPhi = phi2 - phi1;
    const double deltaLambda = radians(to.longitude - from.longitude);
    const double a = std::sin(deltaPhi / 2) * std::sin(deltaPhi / 2)
        + std::cos(phi1) * std::cos(phi2) * std::sin(deltaLambda / 2) * std::sin(deltaLambda / 2);
    return 2 * geo::meanEarthRadiusMetres * std::atan2(std::sqrt(a), std::sqrt(std::max(0.0, 1 - a)));
}

double arcStepDegrees(double radius)
{
    constexpr double longestChordMetres = 1000.0;
    if (radius <= longestChordMetres / 2)
        return 5.0;
    const double chordAngle = degrees(2 * std::asin(longestChordMetres / (2 * radius)));
    return std::clamp(chordAngle, 1.0, 5.0);
}

} // namespace corvex::openair
