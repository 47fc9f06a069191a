// The lock nests within a process: the lock calls keep a depth count and only
// the outermost lock and unlock reach the lock file, so a caller can hold the
// lock across several store calls that each lock and unlock.
#ifndef ELABEL_LOCK_H
#define ELABEL_LOCK_H

#include <cstdint>

#include "elabel.h"

bool elabel_lock_held();

// Why the lock file could not be opened (its errno) when the last attempt to
// take the lock failed there; 0 when that attempt opened it. A failed lock
// returns the same code either way; a front end tells the two apart with this.
int elabel_lock_open_error();

// Whether this process can open the lock file at all (root can, other users
// normally not), without locking it: 0 (also while the lock is held), or the
// errno of the open.
int elabel_lock_file_error();

// For elabel_set_lock: takes one more level of the held lock; 0.
int32_t elabel_lock_nest(int32_t *fd_out);
// For elabel_set_lock: the lock file was just locked on `fd`; 0.
int32_t elabel_lock_took(int32_t fd);
// For elabel_set_unlock: true when an inner level was left and the lock stays
// held; false when the file is to be unlocked and closed.
bool elabel_lock_leave();

// A command that loads, changes and writes back the label holds the lock from
// its load to the end of its write-back: after hold_begin the first lock taken
// (or the one held now) keeps one more level until hold_end. False when a hold
// is on already: that one goes on, and this one has nothing to end.
bool elabel_lock_hold_begin();
void elabel_lock_hold_end();

// A hold for the scope of a command, when `wanted`.
class elabel_lock_hold {
public:
    explicit elabel_lock_hold(bool wanted) : began_(wanted && elabel_lock_hold_begin()) {}
    ~elabel_lock_hold()
    {
        if (began_) {
            elabel_lock_hold_end();
        }
    }
    elabel_lock_hold(const elabel_lock_hold &) = delete;
    elabel_lock_hold &operator=(const elabel_lock_hold &) = delete;

private:
    bool began_;
};

#endif
