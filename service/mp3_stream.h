#pragma once
// Whether a synthesis reply is MP3 audio, judged by how it begins. The form
// asks for MP3, so a reply that is audio is an MP3 stream; anything else
// (a portal's page, an error in JSON, bytes of another format) is not, whatever
// its Content-Type says.

#include <cstdint>
#include <span>

namespace qx {

// True when the bytes begin as an MPEG audio layer III stream (MPEG-1, 2 or
// 2.5) begins: with a frame header whose version, layer, bit-rate and
// sample-rate fields are valid, and, where the bytes reach that far, a header
// of the same stream right after that frame; or with ID3v2 tags (and zero
// padding) followed by such a frame.
[[nodiscard]] bool beginsAsMp3Stream(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace qx
