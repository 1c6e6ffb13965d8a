#include "app/icon_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qx {
namespace {

// A 62-byte icon file: header, one entry, then a 40-byte image at offset 22;
// each case changes one little-endian field of it.
TEST(FirstIconImage, LiesWhollyInsideTheFile) {
    struct Case {
        const char* name;
        std::size_t field, width;
        std::uint32_t value;
        std::size_t offset, size;
    };
    const Case cases[] = {
        {"as made", 0, 2, 0, 22, 40},
        {"image one byte past the end", 14, 4, 41, 0, 0},
        {"offset one byte later", 18, 4, 23, 0, 0},
        {"size that wraps around", 14, 4, 0xFFFFFFFF, 0, 0},
        {"empty image", 14, 4, 0, 0, 0},
        {"cursor file", 2, 2, 2, 0, 0},
        {"no images", 4, 2, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> file(62);
        const std::uint32_t made[][3] = {{2, 2, 1}, {4, 2, 1}, {14, 4, 40}, {18, 4, 22}};
        for (const auto& [at, width, value] : made)
            for (std::uint32_t i = 0; i < width; ++i) file[at + i] = static_cast<unsigned char>(value >> (8 * i));
        for (std::size_t i = 0; i < c.width; ++i) file[c.field + i] = static_cast<unsigned char>(c.value >> (8 * i));
        const IconImage image = firstIconImage(file);
        EXPECT_EQ(image.offset, c.offset) << c.name;
        EXPECT_EQ(image.size, c.size) << c.name;
    }
}

}  // namespace
}  // namespace qx
