#include "text/encoding.h"

namespace qx {

Text urlEncode(const Bytes& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(3 * bytes.size());
    for (const std::uint8_t b : bytes) {
        if (b == 0) continue;
        if (b == ' ') {
            out.push_back('+');
            continue;
        }
        // Letters and digits are escaped as well; only the space has a short form.
        out.push_back('%');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
    }
    return out;
}

}  // namespace qx
