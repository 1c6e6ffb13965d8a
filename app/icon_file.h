#pragma once
// The image inside an ICO file, as CreateIconFromResourceEx takes it.

#include <cstddef>
#include <span>

namespace qx {

struct IconImage {
    std::size_t offset = 0;
    std::size_t size = 0;  // 0: no image
};

// The file's first image. None when the bytes are not an icon file or its
// first image does not lie wholly inside them.
[[nodiscard]] IconImage firstIconImage(std::span<const unsigned char> file) noexcept;

}  // namespace qx
