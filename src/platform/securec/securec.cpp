#include "securec.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

bool dest_size_ok(const void *dest, size_t destMax)
{
    return dest != nullptr && destMax != 0 && destMax <= SECUREC_MEM_MAX_LEN;
}

bool overlaps(const void *a, const void *b, size_t count)
{
    const auto pa = reinterpret_cast<uintptr_t>(a);
    const auto pb = reinterpret_cast<uintptr_t>(b);
    return pa < pb ? pb - pa < count : pa - pb < count;
}

} // namespace

extern "C" errno_t memcpy_s(void *dest, size_t destMax, const void *src, size_t count)
{
    if (!dest_size_ok(dest, destMax)) {
        return ERANGE;
    }
    if (src == nullptr) {
        return EINVAL;
    }
    if (count == 0) {
        return EOK;
    }
    if (count > destMax) {
        return ERANGE;
    }
    if (overlaps(dest, src, count)) {
        return EOVERFLOW;
    }
    std::memcpy(dest, src, count);
    return EOK;
}

extern "C" errno_t memset_s(void *dest, size_t destMax, int c, size_t count)
{
    if (!dest_size_ok(dest, destMax)) {
        return ERANGE;
    }
    if (count > destMax) {
        return ERANGE;
    }
    std::memset(dest, c, count);
    return EOK;
}
