#include <fcntl.h>

#include <cerrno>

#include "elabel_lock.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

constexpr int REQUESTS_PER_PASS = 100;
constexpr useconds_t PASS_PAUSE_US = 1000;

int last_open_error = 0;

// A write lock or an unlock of the whole file, from its start.
struct flock whole_file(short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

int open_lock_file()
{
    return elabel_platform.file.open(ELABEL_LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

bool try_lock(int fd)
{
    struct flock lock = whole_file(F_WRLCK);
    return elabel_platform.file.fcntl_lock(fd, F_SETLK, &lock) == 0;
}

} // namespace

extern "C" int32_t elabel_set_lock(int32_t *fd_out, uint32_t tries)
{
    if (fd_out == nullptr || elabel_lock_held()) {  // a lock this process holds nests at once
        return fd_out == nullptr ? -1 : elabel_lock_nest(fd_out);
    }
    const int fd = open_lock_file();
    last_open_error = fd < 0 ? errno : 0;  // before the log call can change errno
    if (fd < 0) {
        ELABEL_ERR("elabel_get_lock:open file failed! %s.", ELABEL_LOCK_FILE);
        return -1;
    }
    *fd_out = fd;
    for (uint32_t pass = 0; pass < tries; ++pass) {
        for (int request = 0; request < REQUESTS_PER_PASS; ++request) {
            if (try_lock(fd)) {
                return elabel_lock_took(fd);
            }
        }
        elabel_platform.sleep_us(PASS_PAUSE_US);
    }
    elabel_platform.file.close(fd);
    return -1;
}

extern "C" int32_t elabel_set_unlock(int32_t fd)
{
    if (fd < 0) {
        ELABEL_ERR("elabel_set_unlock:fd is 0.");
        return -1;
    }
    if (elabel_lock_leave()) {
        return 0;  // an inner level: the lock stays held
    }
    struct flock lock = whole_file(F_UNLCK);
    (void)elabel_platform.file.fcntl_lock(fd, F_SETLK, &lock);
    elabel_platform.file.close(fd);
    return 0;
}

int elabel_lock_open_error()
{
    return last_open_error;
}

int elabel_lock_file_error()
{
    if (elabel_lock_held()) {
        return 0;  // opened already; and closing a descriptor of it would drop the lock
    }
    const int fd = open_lock_file();
    if (fd < 0) {
        return errno;
    }
    elabel_platform.file.close(fd);
    return 0;
}
