#include "elabel_log.h"

#include <cstdarg>
#include <cstdio>

#include "elabel_platform.h"

void elabel_log(int priority, const char *file, int line, const char *func, const char *fmt, ...)
{
    // Large enough for the longest message: an item's whole text plus the prefix.
    char text[2048];
    int used = std::snprintf(text, sizeof(text), "[%s, %d, %s]: ", file, line, func);
    if (used < 0 || static_cast<size_t>(used) >= sizeof(text)) {
        used = 0;
    }
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text + used, sizeof(text) - static_cast<size_t>(used), fmt, args);
    va_end(args);
    elabel_platform.log_line(priority, text);
}
