// One line of bus statistics per call, appended to the QUELLIX_SIM_STATS file:
//   op=read call=1 offset=512 length=2360 result=0 bus_hz=100000 twr_ns=5000000
//   elapsed_ns=... bound_ns=... transactions=... bytes=... page_writes=...
//   polls=... pauses=... wraps=...
// elapsed_ns is the modeled bus time of the call and bound_ns its physical bound
// (see vclock.h). A call that failed before reaching the bus reports zeros.
#ifndef QUELLIX_SIM_REPORT_H
#define QUELLIX_SIM_REPORT_H

#include "sim_bus.h"

#include <cstdint>

struct sim_call_info {
    const char *op; // "read" or "write"
    uint32_t call;  // 1-based number among this process's calls of that kind
    uint64_t offset;
    uint32_t length;
    int result;
};

// Appends the line with a single write, so processes sharing the file do not
// mix their lines. `bus` may be null. 0 or -errno.
int sim_report_append(const char *path, const sim_call_info *call, const sim_bus *bus,
                      uint32_t bus_hz, uint64_t write_cycle_ns);

#endif
