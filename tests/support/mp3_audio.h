#pragma once
// A synthesis reply that the client takes for MP3, for tests whose service
// succeeds: silent MPEG-1 layer III frames (32 kHz, 48 kbit/s, mono; 216
// bytes each, the header FF FB 38 C4 and zeros), cut at `size` bytes.
#include <algorithm>

#include "text/text.h"

namespace qx::test {

inline Bytes mp3Audio(std::size_t size) {
    const Bytes header = {0xFF, 0xFB, 0x38, 0xC4};
    Bytes audio(size);
    for (std::size_t at = 0; at + 4 <= size; at += 216) std::copy(header.begin(), header.end(), audio.begin() + at);
    return audio;
}

}  // namespace qx::test
