#include "sim_image.h"

#include "chip24.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Repeats a partial pread or pwrite until the whole image has moved.
template <typename Io>
int whole_image(Io io)
{
    size_t done = 0;
    while (done < CHIP24_SIZE) {
        const ssize_t n = io(done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? -errno : -EIO;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

int lock_whole_call(int fd)
{
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return -errno;
        }
    }
    return 0;
}

int load(int fd, uint8_t *mem, bool *created)
{
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        return -errno;
    }
    if (st.st_size == 0) {
        std::memset(mem, 0xFF, CHIP24_SIZE);
        *created = true;
        return 0;
    }
    if (st.st_size != CHIP24_SIZE) {
        return -EIO;
    }
    *created = false;
    return whole_image([&](size_t done) {
        return pread(fd, mem + done, CHIP24_SIZE - done, static_cast<off_t>(done));
    });
}

} // namespace

int sim_image_open(const char *path, int *fd, uint8_t *mem, bool *created)
{
    const int opened = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (opened < 0) {
        return -errno;
    }
    int r = lock_whole_call(opened);
    if (r == 0) {
        r = load(opened, mem, created);
    }
    if (r != 0) {
        close(opened);
        return r;
    }
    *fd = opened;
    return 0;
}

int sim_image_store(int fd, const uint8_t *mem)
{
    return whole_image([&](size_t done) {
        return pwrite(fd, mem + done, CHIP24_SIZE - done, static_cast<off_t>(done));
    });
}

void sim_image_close(int fd)
{
    close(fd);
}
