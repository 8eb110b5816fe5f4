#pragma once

#include <string>
#include <string_view>

namespace corvex {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool isValidUtf8(std::string_view text);

// Each byte taken as one ISO-8859-1 character, written as UTF-8.
std::string latin1ToUtf8(std::string_view text);

} // namespace corvex
