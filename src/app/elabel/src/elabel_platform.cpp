#include "elabel_platform.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "elabel_record.h"
#include "quellix.h"

namespace {

int open_file(const char *path, int flags, mode_t mode)
{
    return open(path, flags, mode);
}

int lock_file(int fd, int cmd, struct flock *lock)
{
    return fcntl(fd, cmd, lock);
}

void log_line(int priority, const char *line)
{
    syslog(priority, "%s", line);
}

constexpr elabel_platform_ops real_platform = {
    {driver_i2c_get_data, driver_i2c_set_data},
    {memcpy_s, memset_s, std::malloc, std::free},
    {open_file, lock_file, read, write, fsync, close, std::rename, link, unlink, mkdir, opendir,
     readdir, closedir, lstat, fchmod, fchown, fstat},
    ELABEL_RECORD_DIR,
    ELABEL_PUBLISH_DIR,
    usleep,
    std::time,
    log_line,
};

} // namespace

elabel_platform_ops elabel_platform = real_platform;

void elabel_platform_reset()
{
    elabel_platform = real_platform;
}
