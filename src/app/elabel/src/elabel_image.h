// Byte-level access to the label image: little-endian fields and item blocks.
#ifndef ELABEL_IMAGE_H
#define ELABEL_IMAGE_H

#include <cstdint>

#include "elabel.h"

inline uint16_t elabel_get_le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void elabel_put_le16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline uint32_t elabel_get_le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void elabel_put_le32(uint8_t *p, uint32_t v)
{
    elabel_put_le16(p, static_cast<uint16_t>(v));
    elabel_put_le16(p + 2, static_cast<uint16_t>(v >> 16));
}

inline uint16_t elabel_item_crc(const uint8_t *image, const elabel_item_desc &item)
{
    return elabel_get_le16(image + item.offset);
}

inline uint16_t elabel_item_len(const uint8_t *image, const elabel_item_desc &item)
{
    return elabel_get_le16(image + item.offset + 2);
}

inline uint8_t *elabel_item_field(uint8_t *image, const elabel_item_desc &item)
{
    return image + item.offset + ELABEL_ITEM_HEAD_LEN;
}

inline const uint8_t *elabel_item_field(const uint8_t *image, const elabel_item_desc &item)
{
    return image + item.offset + ELABEL_ITEM_HEAD_LEN;
}

// Sets an item's length and the checksum of that many bytes of its field.
inline void elabel_item_seal(uint8_t *image, const elabel_item_desc &item, uint16_t len)
{
    elabel_put_le16(image + item.offset + 2, len);
    elabel_put_le16(image + item.offset, elabel_crc16(elabel_item_field(image, item), len));
}

enum class elabel_item_state { ok, too_long, bad_crc };

// An item is valid when its length fits its field and its checksum matches.
inline elabel_item_state elabel_item_check(const uint8_t *image, const elabel_item_desc &item)
{
    const uint16_t len = elabel_item_len(image, item);
    if (len > item.max_len) {
        return elabel_item_state::too_long;
    }
    if (elabel_item_crc(image, item) != elabel_crc16(elabel_item_field(image, item), len)) {
        return elabel_item_state::bad_crc;
    }
    return elabel_item_state::ok;
}

inline bool elabel_item_valid(const uint8_t *image, const elabel_item_desc &item)
{
    return elabel_item_check(image, item) == elabel_item_state::ok;
}

// The state of an item as the listings of elabel-image and the JSON document name it.
inline const char *elabel_item_state_name(const uint8_t *image, const elabel_item_desc &item)
{
    switch (elabel_item_check(image, item)) {
    case elabel_item_state::too_long:
        return "length-beyond-capacity";
    case elabel_item_state::bad_crc:
        return "checksum-mismatch";
    default:
        return "ok";
    }
}

// The bytes of an item that a listing shows: its length, never beyond its field.
inline uint16_t elabel_item_shown_len(const uint8_t *image, const elabel_item_desc &item)
{
    const uint16_t len = elabel_item_len(image, item);
    return len <= item.max_len ? len : item.max_len;
}

// A label as a load takes it without repair: the magic, and every item valid.
inline bool elabel_image_is_valid(const uint8_t *image)
{
    if (elabel_get_le32(image) != ELABEL_MAGIC) {
        return false;
    }
    for (const elabel_item_desc &item : elabel_item_table) {
        if (!elabel_item_valid(image, item)) {
            return false;
        }
    }
    return true;
}

// Length of the text at the start of an item's field, never beyond the field.
inline int elabel_item_text_len(const uint8_t *image, const elabel_item_desc &item)
{
    const uint8_t *field = elabel_item_field(image, item);
    int n = 0;
    while (n < item.max_len && field[n] != 0) {
        ++n;
    }
    return n;
}

#endif
