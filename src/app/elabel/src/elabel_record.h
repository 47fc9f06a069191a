// The pending-write record: a durable note of one write-back, the image it
// writes and the label it replaces, kept in a file from before the erase until
// the device was read back holding one of them. A write-back cut short (a
// crash, a power loss, a failed write) leaves it behind, and the next load
// judges the device against both images to finish the job, or to let it be.
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

// Format tag, image length, EEPROM offset, flags, the image, CRC-32 of all
// that; the replaced label and its CRC-32; CRC-32 of the whole. Each label
// carries its own check, so that a record damaged in its replaced label still
// finishes its write-back.
constexpr size_t ELABEL_RECORD_LEN = 8 + 4 + 4 + 4 + ELABEL_DATA_LEN + 4 + ELABEL_DATA_LEN + 4 + 4;

// CRC-32 (IEEE 802.3, reflected), the record's checksum; a bit at a time is
// plenty for one record.
uint32_t elabel_record_crc32(const uint8_t *data, size_t len);

// Stores the record of a write-back of `image` over `replaced` (each
// ELABEL_DATA_LEN bytes) durably, replacing any record there. A `restore`
// finishes an earlier write-back: `replaced` is the state that one was cut in.
// 0, or -1 with errno after logging why (nothing at the path changed then,
// unless only the directory sync failed, which is logged and returns 0).
int32_t elabel_record_store(const uint8_t *image, const uint8_t *replaced, bool restore);

// Removes the record, if there is one, and syncs the directory (a failed
// sync is logged). 0 when no record is left; -1 with errno when it stays.
int32_t elabel_record_remove();

struct elabel_record {
    uint8_t image[ELABEL_DATA_LEN];
    uint8_t replaced[ELABEL_DATA_LEN];
    bool restore;       // `replaced` is a cut state, not a label to keep
    bool has_replaced;  // false: only the image checked (an earlier format, or damage)
    uint32_t crc;       // the file's last four bytes, which name it when set aside
};

constexpr size_t ELABEL_RECORD_PATH_MAX = 512;
#define ELABEL_ASIDE_INFIX ".set-aside-"
#define ELABEL_DAMAGED_INFIX ".damaged-"

// Renames the record to a name of its own in the same directory, never over
// another file, where no load takes it up again, and syncs the directory. A
// `damaged` record (one that could not be judged, so the label may be as a cut
// left it) gets a name of its own kind that readers of the board look for. 0
// with the new path in `aside` (ELABEL_RECORD_PATH_MAX bytes), or -1 with errno.
int32_t elabel_record_set_aside(uint32_t crc, bool damaged, char *aside);
// The same, but the record stays at its path as well (a second link to it).
int32_t elabel_record_copy_aside(uint32_t crc, bool damaged, char *aside);

// intact: both labels check; image_only: the image checks, the replaced label
// does not (or the format keeps none); damaged: the image does not check, or
// the file is not a record of this label; earlier: a record of the first
// format, never replayed; later: our tag with a later format number, which
// this version cannot judge; unreadable: an error opening or reading it, which
// says nothing about the record; blocked: a directory at the record's path.
enum class elabel_record_state { none, intact, image_only, damaged, earlier, later, unreadable, blocked };

// Reads the record. For any state but none and intact, `*why` says what is wrong.
elabel_record_state elabel_record_read(elabel_record *out, const char **why);

// The bytes of a record file, as elabel_record_read takes them. Sets `out->crc`
// and `*why` in every case.
elabel_record_state elabel_record_decode(const uint8_t *bytes, size_t size, elabel_record *out,
                                         const char **why);

// The format tag of a record, if the bytes begin with ours (any format, later
// ones included): its ELABEL_RECORD_TAG_LEN characters (no NUL), else nullptr.
const char *elabel_record_tag(const uint8_t *bytes, size_t size);
constexpr size_t ELABEL_RECORD_TAG_LEN = 8;

// The record's path, for messages.
const char *elabel_record_path();

// What is at the record's path, for readers that do not settle it.
elabel_record_state elabel_record_look();

// The path of a damaged record set aside in the record directory, if there is
// one (`path`, ELABEL_RECORD_PATH_MAX bytes): the label may be as a cut left it.
bool elabel_record_damaged_aside(char *path);

// The part was read holding a whole label of ours since: damaged records set
// aside are renamed as plain set-aside ones (never over another file).
void elabel_record_clear_torn();

#endif
