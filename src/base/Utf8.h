#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one reading of UTF-8 of the program: the instrument's texts, the exported files,
// the OpenAir files and the airspaces service's replies.
namespace corvex {

// The byte length (1 to 4) of the well-formed character the text starts with; 0 when
// it starts with none: an empty text, a stray continuation byte, a character cut off,
// an overlong form, a surrogate or a code point above U+10FFFF.
std::size_t utf8CharacterLength(std::string_view text);

// Whether the whole text is well-formed UTF-8 in that sense.
bool isValidUtf8(std::string_view text);

// The characters one by one, or nothing when the text is not well-formed UTF-8.
std::optional<std::vector<std::string>> utf8Characters(std::string_view text);

// At most limit bytes of the text, never cutting a character in two (a byte that
// starts no character counts as one).
std::string_view utf8Prefix(std::string_view text, std::size_t limit);

// Each byte taken as one ISO-8859-1 character, written as UTF-8.
std::string latin1ToUtf8(std::string_view text);

// The text with its capitals made small, so that two texts that differ only in case
// compare equal: ASCII, Latin-1, the Latin Extended blocks, Greek and Cyrillic, one
// character for one ("STRASSE" and "Straße" stay apart). Bytes that are not
// well-formed UTF-8 are kept as they are.
std::string foldCase(std::string_view text);

// The text as XML 1.0 can carry it: well-formed UTF-8 as it is, anything else read as
// ISO-8859-1, and the characters XML 1.0 does not allow (the C0 controls other than
// tab, line feed and carriage return; U+FFFE and U+FFFF) left out, so that a document
// written from it is always well-formed.
std::string xmlCharacters(std::string_view text);

} // namespace corvex
