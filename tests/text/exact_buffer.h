#pragma once
// Text in a heap buffer of exactly its length, with no terminator behind it,
// so that the address sanitizer of the host build reports a read past the end.

#include <cstring>
#include <memory>
#include <string_view>

namespace qx::test {

class ExactBuffer {
public:
    explicit ExactBuffer(std::string_view text)
        : size_(text.size()), bytes_(new char[text.empty() ? 1 : text.size()]) {
        if (!text.empty()) std::memcpy(bytes_.get(), text.data(), text.size());
    }
    [[nodiscard]] std::string_view view() const { return {bytes_.get(), size_}; }

private:
    std::size_t size_;
    std::unique_ptr<char[]> bytes_;
};

}  // namespace qx::test
