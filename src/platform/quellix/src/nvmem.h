// Transfers through the nvmem file of a kernel EEPROM driver bound to the chip:
// the driver splits writes at the part's pages, waits for each write cycle and
// shares its locking with every other reader of the file.
#ifndef QUELLIX_NVMEM_H
#define QUELLIX_NVMEM_H

#include <cstddef>
#include <cstdint>

// pread and pwrite of the open file: bytes moved, or -errno. The board passes
// the system calls, the simulator a model of the driver.
struct qx_file {
    long (*pread)(void *ctx, uint8_t *buffer, size_t count, uint64_t offset);
    long (*pwrite)(void *ctx, const uint8_t *buffer, size_t count, uint64_t offset);
    void *ctx;
};

// 0 when all `length` bytes moved, otherwise -errno. A short transfer goes on
// from where it stopped, EINTR is repeated, and a call that moves nothing (the
// end of the file) fails with -EIO. A read leaves `buffer` untouched on failure.
int qx_nvmem_read(const qx_file *file, uint32_t offset, uint8_t *buffer, uint32_t length);

// Reads what the part holds and writes only the runs of bytes that differ, in
// ascending order. A failed read fails the write with its error.
int qx_nvmem_update(const qx_file *file, uint32_t offset, const uint8_t *buffer,
                    uint32_t length);

#endif
