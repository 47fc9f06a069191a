#include "elabel.h"

// Blocks follow each other with no gaps: each takes 4 + max_len bytes.
constexpr elabel_item_desc elabel_item_table[ELABEL_ITEM_NUM] = {
    {0x10, 4, 4, ""},       {0x11, 68, 12, ""},     {0x12, 68, 84, ""},
    {0x20, 68, 156, ""},    {0x21, 68, 228, ""},    {0x22, 68, 300, ""},
    {0x23, 68, 372, ""},    {0x24, 68, 444, ""},    {0x25, 68, 516, ""},
    {0x30, 68, 588, ""},    {0x31, 68, 660, ""},    {0x32, 68, 732, ""},
    {0x33, 68, 804, ""},    {0x34, 68, 876, ""},    {0x35, 68, 948, ""},
    {0x36, 68, 1020, ""},   {0x60, 68, 1092, ""},   {0x61, 68, 1164, ""},
    {0x62, 68, 1236, ""},   {0x63, 68, 1308, ""},   {0x64, 496, 1380, ""},
    {0x65, 48, 1880, ""},   {0x66, 48, 1932, ""},   {0x67, 48, 1984, ""},
    {0x68, 48, 2036, ""},   {0x50, 268, 2088, ""},
};

namespace {

constexpr bool table_tiles_image()
{
    uint64_t next = 4;
    for (const auto &item : elabel_item_table) {
        if (item.offset != next) {
            return false;
        }
        next += ELABEL_ITEM_HEAD_LEN + item.max_len;
    }
    return next == ELABEL_DATA_LEN;
}

static_assert(table_tiles_image(), "item blocks must tile bytes 4 to the end of the image");

} // namespace

extern "C" const elabel_item_desc *driver_elabel_find_item(uint8_t id)
{
    for (const auto &item : elabel_item_table) {
        if (item.id == id) {
            return &item;
        }
    }
    return nullptr;
}
