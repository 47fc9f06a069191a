// The pending-write record: a durable note of one write-back, the image it
// writes and the label it replaces, kept in a file from before the erase until
// the device was read back holding the image. A write-back cut short (a crash,
// a power loss, a failed write) leaves it behind, and the next load judges the
// device against both images to finish the job, or to let it be.
#ifndef ELABEL_RECORD_H
#define ELABEL_RECORD_H

#include <cstddef>
#include <cstdint>

#include "elabel_image.h"

// A persistent directory, chosen when the store is built.
#ifndef ELABEL_RECORD_DIR
#define ELABEL_RECORD_DIR "/var/lib/elabel"
#endif
#define ELABEL_RECORD_NAME "pending-label"

// Format tag, image length, EEPROM offset, flags, the image, the replaced
// label, CRC-32 of all that.
constexpr size_t ELABEL_RECORD_LEN = 8 + 4 + 4 + 4 + 2 * ELABEL_DATA_LEN + 4;

// CRC-32 (IEEE 802.3, reflected), the record's checksum; a bit at a time is
// plenty for one record.
uint32_t elabel_record_crc32(const uint8_t *data, size_t len);

// Stores the record of a write-back of `image` over `replaced` (each
// ELABEL_DATA_LEN bytes): a temporary file written and synced, renamed over the
// record, then the directory synced. 0, or -1 after logging why. A `restore`
// finishes an earlier write-back: `replaced` is the state that one was cut in,
// still to be finished should this one never change the device. When storing
// fails, an older record is removed (it must not be taken for this
// write-back's), except by a restore, which keeps the record it finishes.
int32_t elabel_record_store(const uint8_t *image, const uint8_t *replaced, bool restore);

// Removes the record, if there is one, and syncs the directory (a failed
// sync is logged). 0 when no record is left; -1 with errno when it stays.
int32_t elabel_record_remove();

struct elabel_record {
    uint8_t image[ELABEL_DATA_LEN];
    uint8_t replaced[ELABEL_DATA_LEN];
    bool restore;  // `replaced` is a cut state, not a label to keep
    uint32_t crc;  // the file's own checksum field, which names it when set aside
};

// Renames the record (as read into `record`) to a name of its own in the same
// directory, where no load takes it up again, and syncs the directory. 0 with
// the new path in `aside` (ELABEL_RECORD_PATH_MAX bytes; a failed sync is only
// logged), or -1 when it could not be renamed.
constexpr size_t ELABEL_RECORD_PATH_MAX = 512;
int32_t elabel_record_set_aside(const elabel_record *record, char *aside);

// damaged: the file is not a record of this label (its size, tag, checksum,
// length, offset or flags, or not a regular file); earlier: a record of an earlier format, which does not
// say what it replaced; unreadable: an error opening or reading it, which says
// nothing about the record (kept for a later load).
enum class elabel_record_state { none, intact, damaged, earlier, unreadable };

// Reads the record. For a damaged or unreadable record, `*why` says what is wrong.
elabel_record_state elabel_record_read(elabel_record *out, const char **why);

// The bytes of a record file, as elabel_record_read takes them: intact, earlier
// (only `out->image` set: that format keeps no replaced label) or damaged, with
// `*why`. Sets `out->crc` and `*why` in every case.
elabel_record_state elabel_record_decode(const uint8_t *bytes, size_t size, elabel_record *out,
                                         const char **why);

// The format tag of a record, if the bytes begin with that of any format there
// has been: its ELABEL_RECORD_TAG_LEN characters (no NUL), else nullptr.
const char *elabel_record_tag(const uint8_t *bytes, size_t size);
constexpr size_t ELABEL_RECORD_TAG_LEN = 8;

// The record's path, for messages.
const char *elabel_record_path();

// What became of a pending write-back.
enum class elabel_recovery {
    none,             // no record
    finished,         // the device holds the record's label, found so or restored
    unchanged,        // the write-back never changed the device; the record is gone
    discarded,        // a damaged record, removed
    set_aside,        // not this device's, or a restore that did not take
    dropped,          // to be set aside, but it could not be renamed: removed
    kept_device,      // the device could not be read or written; the record stays
    kept_unreadable,  // the record could not be read; it stays
    kept_unremovable, // the device holds a label to read, but the record could not be
                      // removed or set aside: it stays
};

// Run under the lock (by a load, before it reads the label): finishes a
// write-back that was cut short, or lets a record that does not apply go,
// logging what it did.
elabel_recovery elabel_record_recover();

// The record stays pending and what the device holds is no label to read or
// to write back.
bool elabel_recovery_kept(elabel_recovery found);

// The record stays pending: no write-back but its own restore may start.
bool elabel_recovery_pending(elabel_recovery found);

// Whether a record is there (of any kind), for readers that do not settle it.
bool elabel_record_pending();

#endif
