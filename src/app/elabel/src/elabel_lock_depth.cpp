#include <unistd.h>

#include "elabel_known.h"
#include "elabel_lock.h"

namespace {

int lock_depth = 0;
int32_t lock_fd = -1;
pid_t lock_owner = 0;
bool hold_wanted = false;
bool hold_level = false;  // the hold owns one level of the depth

} // namespace

bool elabel_lock_held()
{
    // A child made by fork() inherits the count but not the record lock.
    if (lock_depth > 0 && lock_owner != getpid()) {
        lock_depth = 0;
        lock_fd = -1;
        hold_wanted = hold_level = false;
        elabel_known_forget();
    }
    return lock_depth > 0;
}

int32_t elabel_lock_nest(int32_t *fd_out)
{
    ++lock_depth;
    *fd_out = lock_fd;
    return 0;
}

int32_t elabel_lock_took(int32_t fd)
{
    lock_fd = fd;
    lock_owner = getpid();
    lock_depth = 1;
    if (hold_wanted) {
        ++lock_depth;
        hold_level = true;
    }
    return 0;
}

bool elabel_lock_leave()
{
    if (lock_depth > 1) {
        --lock_depth;
        return true;
    }
    if (lock_depth == 1) {
        lock_depth = 0;
        lock_fd = -1;
        hold_level = false;
        // From now on another process may change the device.
        elabel_known_forget();
    }
    return false;
}

bool elabel_lock_hold_begin()
{
    if (hold_wanted) {
        return false;
    }
    hold_wanted = true;
    if (lock_depth > 0) {
        ++lock_depth;
        hold_level = true;
    }
    return true;
}

void elabel_lock_hold_end()
{
    hold_wanted = false;
    if (hold_level) {
        hold_level = false;
        (void)elabel_set_unlock(lock_fd);
    }
}
