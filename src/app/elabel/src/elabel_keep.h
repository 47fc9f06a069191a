// Labels kept before a repair: a write-back that stores an item's default in
// place of bytes that failed their check first keeps the label it replaces,
// as stored, in a file of its own beside the pending-write record, so that a
// person can still read and correct the damaged item.
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

// Keeps `label` (ELABEL_DATA_LEN bytes) in a new file of the record directory,
// named after the UTC time and never replacing a file, then removes all but
// the newest ELABEL_KEPT_MAX. 0 with the path in `path`; or -1 with errno set,
// after logging why.
int32_t elabel_keep_label(const uint8_t *label, char *path, size_t size);

#endif
