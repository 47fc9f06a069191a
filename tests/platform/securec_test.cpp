// The bounds-checked copy and fill, called directly as a board program would:
// a refused call leaves memory untouched, an accepted one writes exactly
// `count` bytes.
#include "securec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr size_t N = 32;
constexpr size_t NONE = SIZE_MAX; // a null pointer
constexpr size_t FILL = NONE - 1; // memset_s instead of memcpy_s
constexpr uint8_t FILL_BYTE = 0xEE;

using bytes = std::array<uint8_t, N>;

struct bounded_case {
    const char *name;
    size_t dest_at; // offsets into one buffer, or NONE
    size_t dest_max;
    size_t src_at; // an offset, NONE or FILL
    size_t count;
    bool ok;
};

uint8_t *at(bytes *b, size_t offset)
{
    return offset == NONE ? nullptr : b->data() + offset;
}

errno_t call(bytes *b, const bounded_case &c)
{
    if (c.src_at == FILL) {
        return memset_s(at(b, c.dest_at), c.dest_max, FILL_BYTE, c.count);
    }
    return memcpy_s(at(b, c.dest_at), c.dest_max, at(b, c.src_at), c.count);
}

TEST(Securec, CopyAndFillContract)
{
    const bounded_case cases[] = {
        {"copy, exact fit", 0, 8, 16, 8, true},
        {"copy, adjacent, source after", 0, 8, 8, 8, true},
        {"copy, adjacent, source before", 8, 8, 0, 8, true},
        {"copy, zero count", 0, 8, 16, 0, true},
        {"copy, count beyond destination", 0, 8, 16, 9, false},
        {"copy, null destination", NONE, 8, 16, 8, false},
        {"copy, null source", 0, 8, NONE, 8, false},
        {"copy, destination size 0", 0, 0, 16, 0, false},
        {"copy, destination size too large", 0, SECUREC_MEM_MAX_LEN + 1, 16, 8, false},
        {"copy, one byte overlap, source after", 0, 8, 7, 8, false},
        {"copy, one byte overlap, source before", 7, 8, 0, 8, false},
        {"copy, same buffer", 0, 8, 0, 8, false},
        {"fill, exact fit", 4, 8, FILL, 8, true},
        {"fill, zero count", 4, 8, FILL, 0, true},
        {"fill, count beyond destination", 4, 8, FILL, 9, false},
        {"fill, null destination", NONE, 8, FILL, 8, false},
        {"fill, destination size 0", 4, 0, FILL, 0, false},
        {"fill, destination size too large", 4, SECUREC_MEM_MAX_LEN + 1, FILL, 8, false},
    };
    for (const bounded_case &c : cases) {
        SCOPED_TRACE(c.name);
        bytes buffer{};
        for (size_t i = 0; i < N; ++i) {
            buffer[i] = static_cast<uint8_t>(i + 1);
        }
        bytes expected = buffer;
        if (c.ok && c.src_at == FILL) {
            std::fill_n(expected.begin() + c.dest_at, c.count, FILL_BYTE);
        } else if (c.ok) {
            std::copy_n(buffer.begin() + c.src_at, c.count, expected.begin() + c.dest_at);
        }
        EXPECT_EQ(c.ok, call(&buffer, c) == EOK);
        EXPECT_EQ(expected, buffer);
    }
}

} // namespace
