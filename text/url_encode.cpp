#include "text/url_encode.h"

namespace qx {

Text urlEncode(const Bytes& bytes, UrlEncoding encoding) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(3 * bytes.size());
    for (const std::uint8_t b : bytes) {
        if (b == 0) continue;
        if (b == ' ' && encoding.spaceAsPlus) {
            out.push_back('+');
        } else if (encoding.unreserved.find(static_cast<char>(b)) != std::string_view::npos) {
            out.push_back(static_cast<char>(b));
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0x0F]);
        }
    }
    return out;
}

}  // namespace qx
