#include "vclock.h"

uint64_t qx_bits_ns(const qx_vclock *clock, uint64_t bits)
{
    return bits * 1000000000u / clock->bus_hz;
}

uint64_t qx_bound_ns(const qx_vclock *clock, uint64_t bytes, uint64_t page_writes,
                     uint64_t write_cycle_ns)
{
    return qx_bits_ns(clock, bytes * 9) + page_writes * write_cycle_ns;
}
