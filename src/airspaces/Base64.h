#pragma once

#include "base/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvex {

std::string encodeBase64(ByteView bytes);

// Strict decoding: only the 64 characters of the alphabet, whole groups of four, and
// at most two '=' at the very end. Anything else, white space and line breaks
// included, gives nothing.
std::optional<Bytes> decodeBase64Strict(std::string_view text);

} // namespace corvex
