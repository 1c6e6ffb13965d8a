#include "service/mp3_stream.h"

#include <cstddef>
#include <optional>

namespace qx {
namespace {

using ByteSpan = std::span<const std::uint8_t>;

struct FrameHeader {
    unsigned version;     // its two bits: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    unsigned sampleRate;  // its two bits
    std::size_t length;   // of the whole frame, header included
};

// Layer III bit rates in kbit/s by index. Index 0 is "free format", whose
// frame length no header tells (the service's encoder never writes it), and
// 15 is forbidden.
constexpr unsigned kMpeg1Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr unsigned kMpeg2Kbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
// MPEG-1 sample rates by index (3 is reserved); MPEG-2 halves them, MPEG-2.5 quarters them.
constexpr unsigned kMpeg1Hz[3] = {44100, 48000, 32000};

// The layer III frame header at `at`, if one stands there. Layers I and II
// are refused: the form asks for MP3, which is layer III. The emphasis and
// mode bits are left alone: no value of theirs changes where frames lie.
std::optional<FrameHeader> frameHeaderAt(ByteSpan bytes, std::size_t at) noexcept {
    if (bytes.size() - at < 4) return std::nullopt;
    const std::uint8_t* h = bytes.data() + at;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return std::nullopt;  // 11 bits of frame sync
    const unsigned version = (h[1] >> 3) & 3u;                        // 1 is reserved
    const unsigned layer = (h[1] >> 1) & 3u;                          // 1 is layer III, 0 reserved
    const unsigned bitRate = h[2] >> 4;
    const unsigned sampleRate = (h[2] >> 2) & 3u;
    const unsigned padding = (h[2] >> 1) & 1u;
    if (version == 1 || layer != 1 || sampleRate == 3) return std::nullopt;
    const unsigned kbps = (version == 3 ? kMpeg1Kbps : kMpeg2Kbps)[bitRate];
    if (kbps == 0) return std::nullopt;
    const unsigned hz = kMpeg1Hz[sampleRate] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    // A frame holds 1152 samples in MPEG-1 and 576 in MPEG-2 and 2.5, that
    // is samples / 8 bytes per bit/s of rate over the sample rate, and one
    // more byte when padded.
    const std::size_t bytesPerRate = version == 3 ? 144 : 72;
    return FrameHeader{version, sampleRate, bytesPerRate * kbps * 1000 / hz + padding};
}

// Whether frames of one stream begin at `at`. Random bytes pass a single
// header check about once in 17 000 tries, so the next header is
// checked too where the bytes reach it: it must follow right after the
// first frame with the same version and sample rate (only the bit rate
// changes in a stream, as in VBR, whose first frame is itself a frame:
// the Xing or Info frame). A one-frame stream may end in an ID3v1 tag.
bool framesBeginAt(ByteSpan bytes, std::size_t at) noexcept {
    const std::optional<FrameHeader> first = frameHeaderAt(bytes, at);
    if (!first) return false;
    const std::size_t next = at + first->length;
    if (bytes.size() < next + 4) return true;  // the reply ends within the first frame or the next header
    if (bytes[next] == 'T' && bytes[next + 1] == 'A' && bytes[next + 2] == 'G') return true;
    const std::optional<FrameHeader> second = frameHeaderAt(bytes, next);
    return second && second->version == first->version && second->sampleRate == first->sampleRate;
}

// The length of the ID3v2 tag that begins at `at` (header, body and a
// version 2.4 footer), or 0 when none does: "ID3", a major version from 2
// to 4, a revision (never 0xFF) and flags, then a size of four 7-bit bytes.
std::size_t id3v2TagLength(ByteSpan bytes, std::size_t at) noexcept {
    if (bytes.size() - at < 10) return 0;
    const std::uint8_t* t = bytes.data() + at;
    if (t[0] != 'I' || t[1] != 'D' || t[2] != '3' || t[3] < 2 || t[3] > 4 || t[4] == 0xFF) return 0;
    if ((t[6] | t[7] | t[8] | t[9]) & 0x80) return 0;
    const std::size_t size = (std::size_t{t[6]} << 21) | (std::size_t{t[7]} << 14) | (std::size_t{t[8]} << 7) | t[9];
    const bool footer = t[3] == 4 && (t[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

}  // namespace

bool beginsAsMp3Stream(ByteSpan bytes) noexcept {
    // A tag is only a label: any file can carry one, so the audio is judged
    // by the frame after it, and a reply that is all tag (or that ends inside
    // its tag) is no audio. Between the tag and the first frame, some taggers
    // leave zero bytes that the tag's size does not count and decoders skip;
    // so do we. Some files carry more than one tag; each is at least 10 bytes,
    // so the loop ends.
    std::size_t at = 0;
    while (const std::size_t tag = id3v2TagLength(bytes, at)) {
        if (tag > bytes.size() - at) return false;
        at += tag;
        while (at < bytes.size() && bytes[at] == 0) ++at;
    }
    return framesBeginAt(bytes, at);
}

}  // namespace qx
