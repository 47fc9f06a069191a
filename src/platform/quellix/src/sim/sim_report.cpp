#include "sim_report.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int sim_report_append(const char *path, const sim_call_info *call, const sim_bus *bus,
                      uint32_t bus_hz, uint64_t write_cycle_ns)
{
    const qx_bus_stats none{};
    const qx_bus_stats &s = bus != nullptr ? bus->stats : none;
    const uint64_t elapsed = bus != nullptr ? bus->clock.now_ns : 0;
    const uint64_t page_writes = bus != nullptr ? bus->chip->page_writes : 0;
    const uint64_t wraps = bus != nullptr ? bus->chip->wraps : 0;
    const qx_vclock clock{0, bus_hz};
    char line[512];
    const int n = std::snprintf(
        line, sizeof line,
        "op=%s call=%" PRIu32 " offset=%" PRIu64 " length=%" PRIu32 " result=%d bus_hz=%" PRIu32
        " twr_ns=%" PRIu64 " elapsed_ns=%" PRIu64 " bound_ns=%" PRIu64 " transactions=%" PRIu64
        " bytes=%" PRIu64 " page_writes=%" PRIu64 " polls=%" PRIu64 " pauses=%" PRIu64
        " wraps=%" PRIu64 "\n",
        call->op, call->call, call->offset, call->length, call->result, bus_hz, write_cycle_ns,
        elapsed, qx_bound_ns(&clock, s.bytes, page_writes, write_cycle_ns), s.transactions,
        s.bytes, page_writes, s.polls, s.pauses, wraps);
    if (n < 0 || static_cast<size_t>(n) >= sizeof line) {
        return -EOVERFLOW;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -errno;
    }
    const ssize_t written = write(fd, line, static_cast<size_t>(n));
    const int r = written == n ? 0 : (written < 0 ? -errno : -EIO);
    close(fd);
    return r;
}
