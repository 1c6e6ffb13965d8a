#include "text/encoding.h"

namespace qx {

Bytes joinBytes(std::initializer_list<const Bytes*> parts) {
    std::size_t size = 0;
    for (const Bytes* part : parts) {
        if (part) size += part->size();
    }
    Bytes joined;
    joined.reserve(size);
    for (const Bytes* part : parts) {
        if (part) joined.insert(joined.end(), part->begin(), part->end());
    }
    return joined;
}

}  // namespace qx
