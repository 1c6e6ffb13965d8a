#pragma once
// The program's two value types.
//
// Text: 8-bit text in code page 936 (GBK), whatever the system's ANSI code
// page is. A missing string reads as the empty text.
// Bytes: a length-counted byte buffer (HTTP bodies, audio).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

using Text = std::string;
using Bytes = std::vector<std::uint8_t>;

// The bytes of a text, without a terminator.
[[nodiscard]] inline Bytes toBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// A byte buffer read as a zero-terminated string: its bytes up to the first
// zero byte, or all of them when there is none.
[[nodiscard]] inline Text toText(const Bytes& bytes) {
    std::size_t n = 0;
    while (n < bytes.size() && bytes[n] != 0) ++n;
    return Text(reinterpret_cast<const char*>(bytes.data()), n);
}

}  // namespace qx
