#pragma once

#include "base/Bytes.h"

#include <array>

namespace corvex {

// SHA-256 of a byte buffer; the converter's unique key of a set.
std::array<std::uint8_t, 32> sha256(ByteView bytes);

} // namespace corvex
