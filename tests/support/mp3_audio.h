#pragma once
// A synthesis reply that the client takes for MP3, for tests whose service
// succeeds: silent MPEG-1 layer III frames (32 kHz, 48 kbit/s, mono; 216
// bytes each, the header FF FB 38 C4 and zeros), cut at `size` bytes.

#include <cstddef>

#include "text/text.h"

namespace qx::test {

inline Bytes mp3Audio(std::size_t size) {
    Bytes audio(size);
    for (std::size_t at = 0; at + 4 <= size; at += 216) {
        audio[at] = 0xFF;
        audio[at + 1] = 0xFB;
        audio[at + 2] = 0x38;
        audio[at + 3] = 0xC4;
    }
    return audio;
}

}  // namespace qx::test
