// The pending-write record: a durable copy of the image a write-back is about
// to store, kept in a file from before the erase until the device holds the
// image. A write-back cut short (a crash, a power loss, a failed write) leaves
// it behind, and the next load finishes the job from it.
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

// Format tag, image length, EEPROM offset, image, CRC-32 of all that.
constexpr size_t ELABEL_RECORD_LEN = 8 + 4 + 4 + ELABEL_DATA_LEN + 4;

// CRC-32 (IEEE 802.3, reflected), the record's checksum; a bit at a time is
// plenty for one record.
uint32_t elabel_record_crc32(const uint8_t *data, size_t len);

// Stores the image (ELABEL_DATA_LEN bytes) as the record: a temporary file
// written and synced, renamed over the record, then the directory synced.
// 0, or -1 after logging why.
int32_t elabel_record_store(const uint8_t *image);

// Removes the record, if there is one, and syncs the directory. 0, or -1
// after logging why.
int32_t elabel_record_remove();

// damaged: the file is not a record of this label (removed when found);
// unreadable: it could not be read for now (kept for a later load).
enum class elabel_record_state { none, intact, damaged, unreadable };

// Reads the record's image into `image`. For a damaged or unreadable record,
// `*why` says what is wrong.
elabel_record_state elabel_record_read(uint8_t *image, const char **why);

// The record's path, for messages.
const char *elabel_record_path();

// Run by a load that holds the lock, before it reads the label: finishes a
// write-back that was cut short, or discards a record that no longer applies.
// -1 when the record stays pending (not restored, or not readable for now):
// what the device holds is then no label to read or to write back.
int32_t elabel_record_recover();

#endif
