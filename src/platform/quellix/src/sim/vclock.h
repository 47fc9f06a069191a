// Virtual time and the counters of the bus-time model.
//
// Each bit on the bus takes 1/bus_hz seconds. A byte with its acknowledge takes
// 9 bits; a start, a repeated start and a stop condition take one bit each. The
// physical bound of a call is what the same bytes need with nothing around
// them: bytes * 9 bits at the clock, plus one write cycle per page written.
#ifndef QUELLIX_VCLOCK_H
#define QUELLIX_VCLOCK_H

#include <cstdint>

struct qx_vclock {
    uint64_t now_ns;
    uint32_t bus_hz;
};

struct qx_bus_stats {
    uint64_t transactions; // transactions whose addresses the chip acknowledged
    uint64_t bytes;        // bytes they put on the bus, address bytes included
    uint64_t polls;        // transactions refused while the chip was busy
    uint64_t refused;      // messages the adapter refused for their length
    uint64_t pauses;       // pauses between polls
    uint64_t pause_ns;
};

// Time of `bits` bit periods at the clock.
uint64_t qx_bits_ns(const qx_vclock *clock, uint64_t bits);

// The physical bound of `bytes` bus bytes and `page_writes` write cycles.
uint64_t qx_bound_ns(const qx_vclock *clock, uint64_t bytes, uint64_t page_writes,
                     uint64_t write_cycle_ns);

#endif
