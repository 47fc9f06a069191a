#include "elabel_file.h"

#include <fcntl.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "elabel_platform.h"

int elabel_write_all(int fd, const uint8_t *data, size_t len)
{
    while (len > 0) {
        const ssize_t n = elabel_platform.file.write(fd, data, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -errno;
        }
        if (n == 0) {
            return -EIO;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

ssize_t elabel_read_all(int fd, uint8_t *data, size_t max)
{
    size_t got = 0;
    while (got < max) {
        const ssize_t n = elabel_platform.file.read(fd, data + got, max - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

int elabel_sync_parent(const char *path)
{
    char dir[PATH_MAX];
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(dir, ".");
    } else {
        const size_t len = slash == path ? 1 : static_cast<size_t>(slash - path);
        if (len >= sizeof(dir)) {
            return -ENAMETOOLONG;
        }
        std::memcpy(dir, path, len);
        dir[len] = '\0';
    }
    const int fd = elabel_platform.file.open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    const int ret = elabel_platform.file.fsync(fd) != 0 ? -errno : 0;
    elabel_platform.file.close(fd);
    return ret;
}

namespace {

constexpr const char *STEP_NAMES[] = {"create", "write", "fsync", "close", "rename",
                                      "fsync directory"};
constexpr int UNIQUE_TRIES = 100;
constexpr char UNIQUE_SUFFIX[] = "XXXXXX";

bool wants_unique(const char *temp)
{
    const size_t len = std::strlen(temp);
    const size_t suffix = sizeof(UNIQUE_SUFFIX) - 1;
    return len >= suffix && std::strcmp(temp + len - suffix, UNIQUE_SUFFIX) == 0;
}

// Creates the temporary: the descriptor, or -1 with errno set.
int create_temp(char *temp, mode_t mode)
{
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    if (!wants_unique(temp)) {
        (void)elabel_platform.file.unlink(temp);
        return elabel_platform.file.open(temp, flags, mode);
    }
    constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    char *suffix = temp + std::strlen(temp) - (sizeof(UNIQUE_SUFFIX) - 1);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // A linear congruential generator's state, seeded by the time and the process.
    uint64_t state = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(getpid()) << 32;
    for (int attempt = 0; attempt < UNIQUE_TRIES; ++attempt) {
        for (size_t i = 0; i + 1 < sizeof(UNIQUE_SUFFIX); ++i) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            suffix[i] = LETTERS[(state >> 33) % (sizeof(LETTERS) - 1)];
        }
        const int fd = elabel_platform.file.open(temp, flags, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Gives the temporary the owner and mode of the file it replaces. 0 or -errno.
int apply_owner(int fd, const elabel_file_owner &owner)
{
    // chown before chmod, which chown may clear.
    if (owner.chown && elabel_platform.file.fchown(fd, owner.uid, owner.gid) != 0) {
        return -errno;
    }
    return elabel_platform.file.fchmod(fd, owner.mode) != 0 ? -errno : 0;
}

// Writes the temporary whole and durable; the step that failed, if any.
bool write_temp(const elabel_store_target &dest, const uint8_t *data, size_t len,
                elabel_store_step *failed)
{
    *failed = elabel_store_step::create;
    const int fd = create_temp(dest.temp, dest.mode);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    if (int ret = elabel_write_all(fd, data, len);
        ret != 0 || (dest.owner != nullptr && (ret = apply_owner(fd, *dest.owner)) != 0)) {
        errno = -ret;
        *failed = elabel_store_step::write;
        ok = false;
    } else if (elabel_platform.file.fsync(fd) != 0) {
        *failed = elabel_store_step::fsync;
        ok = false;
    }
    const int saved = errno;
    if (elabel_platform.file.close(fd) != 0 && ok) {
        *failed = elabel_store_step::close;
        return false;
    }
    errno = saved;
    return ok;
}

bool publish(const char *path, const char *temp, bool replace)
{
    if (replace) {
        return elabel_platform.file.rename(temp, path) == 0;
    }
    if (elabel_platform.file.link(temp, path) != 0) {
        return false;
    }
    (void)elabel_platform.file.unlink(temp);
    return true;
}

} // namespace

const char *elabel_store_step_name(elabel_store_step step)
{
    return STEP_NAMES[static_cast<int>(step)];
}

int elabel_store_file(const elabel_store_target &dest, const uint8_t *data, size_t len,
                      elabel_store_step *failed)
{
    bool stored = write_temp(dest, data, len, failed);
    const bool created = stored || *failed != elabel_store_step::create;
    if (stored && !publish(dest.path, dest.temp, dest.replace)) {
        *failed = elabel_store_step::publish;
        stored = false;
    }
    if (!stored) {
        const int err = errno;
        if (created) {
            (void)elabel_platform.file.unlink(dest.temp);
        }
        errno = err;
        return -1;
    }
    *failed = elabel_store_step::fsync_dir;
    if (const int synced = elabel_sync_parent(dest.path); synced != 0) {
        errno = -synced;
        return -1;
    }
    return 0;
}
