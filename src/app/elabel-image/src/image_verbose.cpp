// --verbose: what the store logs goes to standard error as well, so that a
// station sees a fault's details without reading the system log.
#include <cstdio>
#include <cstring>

#include "elabel_platform.h"
#include "image_tool.h"

namespace {

void (*system_log)(int priority, const char *line) = nullptr;

void log_both(int priority, const char *line)
{
    system_log(priority, line);
    size_t len = std::strlen(line);
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) {
        --len;
    }
    std::fprintf(stderr, "elabel-image: log: %.*s\n", static_cast<int>(len), line);
}

} // namespace

void image_log_to_stderr()
{
    if (system_log == nullptr) {
        system_log = elabel_platform.log_line;
        elabel_platform.log_line = log_both;
    }
}
