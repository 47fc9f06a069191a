#include "nvmem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Calls `io` until `length` bytes from `offset` have moved.
template <typename Io>
int whole(Io io, uint32_t offset, uint32_t length)
{
    uint32_t done = 0;
    while (done < length) {
        // cppcheck-suppress redundantAssignment ; a new result each time round
        const long n = io(done, length - done, uint64_t{offset} + done);
        if (n == -EINTR) {
            continue;
        }
        if (n < 0) {
            return static_cast<int>(n);
        }
        if (n == 0 || static_cast<unsigned long>(n) > length - done) {
            return -EIO;
        }
        done += static_cast<uint32_t>(n);
    }
    return 0;
}

int read_into(const qx_file *file, uint32_t offset, uint8_t *buffer, uint32_t length)
{
    return whole([&](uint32_t done, uint32_t left, uint64_t at) {
        return file->pread(file->ctx, buffer + done, left, at);
    }, offset, length);
}

int write_run(const qx_file *file, uint32_t offset, const uint8_t *buffer, uint32_t length)
{
    return whole([&](uint32_t done, uint32_t left, uint64_t at) {
        return file->pwrite(file->ctx, buffer + done, left, at);
    }, offset, length);
}

} // namespace

int qx_nvmem_read(const qx_file *file, uint32_t offset, uint8_t *buffer, uint32_t length)
{
    auto *staging = static_cast<uint8_t *>(std::malloc(length == 0 ? 1 : length));
    if (staging == nullptr) {
        return -ENOMEM;
    }
    const int r = read_into(file, offset, staging, length);
    if (r == 0) {
        std::memcpy(buffer, staging, length);
    }
    std::free(staging);
    return r;
}

int qx_nvmem_update(const qx_file *file, uint32_t offset, const uint8_t *buffer,
                    uint32_t length)
{
    auto *held = static_cast<uint8_t *>(std::malloc(length == 0 ? 1 : length));
    if (held == nullptr) {
        return -ENOMEM;
    }
    int r = read_into(file, offset, held, length);
    uint32_t at = 0;
    while (r == 0 && at < length) {
        if (held[at] == buffer[at]) {
            ++at;
            continue;
        }
        uint32_t end = at + 1;
        while (end < length && held[end] != buffer[end]) {
            ++end;
        }
        r = write_run(file, offset + at, buffer + at, end - at);
        at = end;
    }
    std::free(held);
    return r;
}
