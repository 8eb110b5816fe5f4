#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Lowercase hexadecimal, two digits per byte, no separators ("%02lx" per byte).
// The airspaces cache turns byte keys into file names with it.
std::string hexadecimalString(ByteView bytes);

// The bytes of hexadecimal digit pairs in either case ("00AB0f"), as S-record firmware
// lines carry them: nothing when a character is no digit or a digit has no pair.
std::optional<Bytes> bytesFromHexadecimal(std::string_view digits);

// The textual form of a byte buffer in log lines: hexadecimal digits between angle
// brackets, grouped by four bytes, e.g. "<0205a3f1 00ff>".
std::string describeBytes(ByteView bytes);

// Bytes of a text, one byte per character.
Bytes bytesOf(std::string_view text);

// A text field of an instrument record: one byte per character up to the first NUL
// within the slot, or the whole slot when no NUL is there.
std::string textField(ByteView slot);

} // namespace corvex
