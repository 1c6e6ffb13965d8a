#pragma once
// Percent-encoding, the one encoder of URLs and forms. Platform-free.

#include <string_view>

#include "text/text.h"

namespace qx {

// Which bytes an encoding leaves as they are, and how it writes a space.
struct UrlEncoding {
    std::string_view unreserved;  // bytes written as themselves
    bool spaceAsPlus;             // a space as "+" rather than "%20"
};

// The form encoding the synthesis service decodes: every byte escaped, even
// letters and digits; only the space has a short form, "+".
inline constexpr UrlEncoding kFormEncoding{"", true};
// A query value: the unreserved characters of URIs kept, a space "%20".
inline constexpr UrlEncoding kQueryEncoding{
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~", false};

// Every byte as "%XX" (upper-case hex) except the encoding's unreserved ones
// and the space; zero bytes dropped.
[[nodiscard]] Text urlEncode(const Bytes& bytes, UrlEncoding encoding);

}  // namespace qx
