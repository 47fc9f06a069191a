// Arbitrary bytes -> what build --json reads: the JSON reader patching a label.
//
// Checks: the status is success or a usage error; an accepted document makes
// every item it names valid, with a text that build takes (shorter than the
// field, no control byte), and leaves the magic and every other item byte for
// byte as they were.
#include <cstring>

#include "elabel_image.h"
#include "fake_device.h"
#include "image_tool.h"

namespace {

// A label with a text in every item, so that an item changed by mistake shows.
void make_base(uint8_t *label)
{
    std::memset(label, 0, ELABEL_DATA_LEN);
    elabel_put_le32(label, ELABEL_MAGIC);
    for (const elabel_item_desc &item : elabel_item_table) {
        elabel_item_field(label, item)[0] = static_cast<uint8_t>('A' + item.id % 26);
        elabel_item_seal(label, item, 1);
    }
}

bool build_takes(const uint8_t *label, const elabel_item_desc &item)
{
    const uint16_t len = elabel_item_len(label, item);
    const uint8_t *field = elabel_item_field(label, item);
    for (uint16_t i = 0; i < len && len < item.max_len; ++i) {
        if (field[i] < 0x20 || field[i] == 0x7F) {
            return false;
        }
    }
    return len < item.max_len && elabel_item_valid(label, item);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static uint8_t base[ELABEL_DATA_LEN];
    static uint8_t label[ELABEL_DATA_LEN];
    if (size > IMAGE_FILE_MAX) {
        return 0;
    }
    make_base(base);
    std::memcpy(label, base, sizeof(label));
    uint32_t rows = 0;
    const int ret = image_json_patch(data, size, "fuzz", label, &rows);
    if (ret != IMAGE_OK && ret != IMAGE_USAGE) {
        fuzz::fail("a status other than success or a usage error");
    }
    if (ret != IMAGE_OK) {
        return 0;
    }
    if (elabel_get_le32(label) != ELABEL_MAGIC) {
        fuzz::fail("the magic changed");
    }
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        const size_t block = ELABEL_ITEM_HEAD_LEN + item.max_len;
        const bool named = (rows >> row & 1u) != 0;
        if (named && !build_takes(label, item)) {
            fuzz::fail("a named item is not a text build takes");
        }
        if (!named && std::memcmp(label + item.offset, base + item.offset, block) != 0) {
            fuzz::fail("an item the document does not name changed");
        }
    }
    return 0;
}
