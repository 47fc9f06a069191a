// The simulator's settings, read from the environment on every call so that a
// test can change them between calls. Only the simulated build reads them:
//   QUELLIX_SIM_IMAGE            image file (default quellix-eeprom.bin)
//   QUELLIX_SIM_FAIL_READ        1-based get calls that fail with -EIO, "2,3" or "all"
//   QUELLIX_SIM_FAIL_WRITE       the same for set calls
//   QUELLIX_SIM_STALL_AFTER_READ with QUELLIX_SIM_STALL_FILE: after get call N,
//                                create FILE.stalled and wait until FILE exists
//   QUELLIX_SIM_BUS_HZ           bus clock, default 100000
//   QUELLIX_SIM_TWR_US           write cycle, default 5000
//   QUELLIX_SIM_ADAPTER          i2c (default), smbus (SMBus calls only) or none
//   QUELLIX_SIM_MAX_MSG          longest message the adapter takes (EOPNOTSUPP beyond)
//   QUELLIX_SIM_SHORT_COUNT      1: the adapter carries one message fewer than asked
//   QUELLIX_SIM_STATS            file that gets one line of bus statistics per call
//   QUELLIX_SIM_SIGNAL_AFTER_PAGES  N: after this process's Nth page write, store
//                                the image file and send QUELLIX_SIM_SIGNAL to itself
//   QUELLIX_SIM_SIGNAL           KILL (default), INT, TERM, HUP, QUIT or TSTP
//   QUELLIX_SIM_TORN_BYTES       N (0..31): the page write at QUELLIX_SIM_SIGNAL_AFTER_PAGES
//                                is torn, as power lost part-way through its write cycle
//                                leaves it: its first N data bytes are stored, the rest
//                                of the bytes it writes read 0xFF (erased, not programmed)
//   QUELLIX_SIM_FAIL_READ_AFTER_WRITE  1: get calls fail with -EIO once this process
//                                has written a page
//   QUELLIX_SIM_STUCK_BYTE       word address of a worn cell that keeps its value when written
//   QUELLIX_SIM_WRITE_PROTECT    none (default); nack: the first data byte of a write is
//                                not acknowledged (-EIO); ignore: data is acknowledged and
//                                dropped. Neither stores a byte; reads work.
//   QUELLIX_SIM_PAGE             the chip's page size, a power of two up to 256 (default 32)
//   QUELLIX_SIM_DRIVER           none (default) or at24: a kernel driver owns the chip and
//                                the calls go through its nvmem file, as on such a board
//   QUELLIX_SIM_DRIVER_PAGE      the page size the driver splits writes at (default 1, the
//                                driver's own when the device tree gives none)
//   QUELLIX_SIM_SHORT_IO         N: each read or write of the nvmem file moves at most N bytes
#ifndef QUELLIX_SIM_ENV_H
#define QUELLIX_SIM_ENV_H

#include "sim_bus.h"

#include <cstdint>

struct sim_env {
    const char *image;
    const char *fail_read;
    const char *fail_write;
    uint32_t stall_after_read; // 0: never
    const char *stall_file;
    uint32_t bus_hz;
    uint64_t write_cycle_ns;
    sim_adapter adapter;
    const char *stats;
    uint32_t signal_after_pages; // 0: never
    int signal;
    uint32_t torn_bytes; // CHIP24_PAGE: the cut page is written whole
    bool fail_read_after_write;
    uint32_t stuck_byte; // CHIP24_SIZE: none
    chip24_protect write_protect;
    uint32_t chip_page;
    bool driver;          // the calls go through the simulated driver's nvmem file
    uint32_t driver_page;
    uint32_t short_io;    // 0: whole transfers
};

// 0, or -EINVAL when a variable holds something it cannot mean (a malformed
// number or call list, a stall without its file).
int sim_env_load(sim_env *env);

// Whether call number `call` is in a list such as "2,3,4" or "all"; an unset
// or malformed list names no call.
bool sim_env_lists(const char *list, uint32_t call);

#endif
