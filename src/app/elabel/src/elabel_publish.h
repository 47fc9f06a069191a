// The label as the board holds it, published for readers that may not take
// the lock (users other than root, monitoring): in elabel_platform.publish_dir
// (mode 0755 when made here), the raw label and the JSON document of
// elabel-image show --json, each replaced atomically, mode 0644. Each file is
// written right after the label was read, so its modification time is when.
// Publishing happens under the lock, so that an older copy never replaces a
// newer one.
#ifndef ELABEL_PUBLISH_H
#define ELABEL_PUBLISH_H

#include <cstddef>
#include <cstdint>
#include <ctime>

constexpr const char *ELABEL_PUBLISHED_LABEL = "label.bin";
constexpr const char *ELABEL_PUBLISHED_JSON = "label.json";

// "DIR/NAME" in `out`; false when there is no publish directory or it does not fit.
bool elabel_published_path(const char *name, char *out, size_t size);

// Publishes `label`, just read from the device under the lock. 0; or -1 with
// errno set, logged, and neither file left behind: a copy older than the
// label on the board is worse than none. 0 at once when there is no publish
// directory.
int elabel_publish(const uint8_t *label);

// Removes the published copy: the board no longer holds it, or may not.
void elabel_publish_withdraw();

enum class elabel_publish_result { published, busy, unread, pending, not_stored };

// Reads the board's label as stored, under the lock, and publishes it; not
// while a write-back is pending (the label may be as a cut left it).
elabel_publish_result elabel_publish_board();

// Makes the published label the store's image (elabel_data), items that fail
// their check reset to their defaults as a load resets them; *read_at is when
// it was read. 0, or -errno: -ENOENT none is published, -EINVAL the file is
// not one label's size.
int elabel_load_published(time_t *read_at);

#endif
