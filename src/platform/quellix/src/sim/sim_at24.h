// A kernel EEPROM driver bound to the simulated chip, seen through its nvmem
// file: reads go out as the driver sends them, writes are split at the page
// size the driver was given (1 byte when the device tree names none) with a
// write cycle each, and a file that moves at most `io_max` bytes per call
// models short transfers.
#ifndef QUELLIX_SIM_AT24_H
#define QUELLIX_SIM_AT24_H

#include "../bus.h"
#include "../nvmem.h"

#include <cstdint>

struct sim_at24 {
    const qx_bus *bus;
    uint32_t page;   // the driver's page size
    uint32_t io_max; // 0: no limit
};

qx_file sim_at24_file(sim_at24 *driver);

#endif
