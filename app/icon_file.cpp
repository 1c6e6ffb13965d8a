#include "app/icon_file.h"

#include <cstdint>

namespace qx {

namespace {

// ICO files are little-endian: a 6-byte header (reserved 0, type 1, image
// count), then one 16-byte entry per image, whose last 8 bytes are the
// image's size and its offset from the start of the file.
constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kEntrySize = 16;

std::uint32_t littleEndian(std::span<const unsigned char> bytes, std::size_t at, std::size_t width) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) value = (value << 8) | bytes[at + i];
    return value;
}

}  // namespace

IconImage firstIconImage(std::span<const unsigned char> file) noexcept {
    if (file.size() < kHeaderSize + kEntrySize) return {};
    if (littleEndian(file, 0, 2) != 0 || littleEndian(file, 2, 2) != 1 || littleEndian(file, 4, 2) == 0) return {};
    const std::size_t size = littleEndian(file, kHeaderSize + 8, 4);
    const std::size_t offset = littleEndian(file, kHeaderSize + 12, 4);
    // Subtractions only: a size and offset near 4 GB must not wrap around.
    if (size == 0 || offset > file.size() || size > file.size() - offset) return {};
    return {offset, size};
}

}  // namespace qx
