// Hexadecimal text to its value. Strict: an optional 0x/0X prefix, then one or
// more hexadecimal digits of either case and nothing else. Null, empty or
// invalid text gives -1, and so does a value above INT32_MAX, which has no
// non-negative 32-bit form.
#include "quellix.h"

#include <cstdint>

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

extern "C" int32_t common_16_char2int(const char *text)
{
    if (text == nullptr) {
        return -1;
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text += 2;
    }
    if (*text == '\0') {
        return -1;
    }
    int32_t value = 0;
    for (; *text != '\0'; ++text) {
        const int digit = hex_digit(*text);
        if (digit < 0 || value > (INT32_MAX - digit) / 16) {
            return -1;
        }
        value = value * 16 + digit;
    }
    return value;
}
