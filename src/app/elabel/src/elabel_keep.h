// Labels kept before a repair: a write-back that stores an item's default in
// place of bytes that failed their check, or a load that writes a label over a
// region holding none, first keeps what it replaces, as stored, in a file of
// its own beside the pending-write record, so that a person can still read and
// correct the damaged item.
#ifndef ELABEL_KEEP_H
#define ELABEL_KEEP_H

#include <cstddef>
#include <cstdint>

#define ELABEL_KEPT_PREFIX "kept-label-"
constexpr int ELABEL_KEPT_MAX = 8;  // the newest ones stay, older ones are removed
constexpr size_t ELABEL_KEPT_PATH_MAX = 512;

// The item-table rows (a bit each) whose block in `replaced` failed its check
// and that `image` stores as the row's default. A block of 0xFF bytes alone
// (an erased part) is no damage worth keeping.
uint32_t elabel_reset_rows(const uint8_t *replaced, const uint8_t *image);

// Keeps `label` (ELABEL_DATA_LEN bytes) in the record directory: in the file
// that already holds the same bytes, if one does, else in a new file named
// after a sequence number of its own (one above the highest there) and the
// UTC time, never replacing a file. 0 with the path in `path`; or -1 with
// errno set, after logging why. Nothing is removed here.
int32_t elabel_keep_label(const uint8_t *label, char *path, size_t size);

// Removes all but the ELABEL_KEPT_MAX newest kept labels, by their sequence
// numbers (names without one are the oldest): for once the part was read back
// holding the label written after keeping; never `named` (a path this
// write-back reported). A failure is logged.
void elabel_keep_prune(const char *named);

#endif
