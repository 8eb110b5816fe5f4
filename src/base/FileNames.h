#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvex {

// Room for an extension and a numbering suffix within the 255 bytes of a file name.
constexpr std::size_t longestSafeFileName = 200;

// The one rule that turns a name from outside (the instrument, a downloaded IGC text,
// the airspaces service, a set's header) into one file inside a folder:
// - '/', '\\', NUL and every other control character (C0, DEL, C1) become '_', and so
//   does every byte that is not part of well-formed UTF-8; well-formed characters stay,
//   so a set named "Österreich" keeps its name in the cache;
// - ".." becomes "__" and a leading '.' becomes '_', so neither ".", ".." nor a hidden
//   file comes out;
// - at most `longest` bytes, never cutting a character in two;
// - empty when nothing but '_', ' ' and '.' is left.
// Applying it twice changes nothing.
std::string safeFileName(std::string_view name, std::size_t longest = longestSafeFileName);

// The one check of a path the program reads back from a file of its own (a journal line,
// an index row), which should name a file inside `folder`: what is wrong with it, or
// empty when nothing. Such a file can be edited by anyone or copied from elsewhere, and
// the path is later written to, so it must be relative, each of its parts a plain name
// (not empty, ".", ".."), without a control character (NUL, C0, DEL), and the folders on
// its way, symbolic links followed, must stay inside `folder` (the last part itself is
// never followed: a rename replaces a link there, not what it points at).
std::string pathOutsideFolder(const std::string& folder, std::string_view relative);

} // namespace corvex
