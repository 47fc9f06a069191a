#include <cstdio>

#include "elabel_cli.h"
#include "elabel_image.h"
#include "elabel_names.h"

namespace {

constexpr int LABEL_WIDTH = 37;

void show_item(int row)
{
    const elabel_item_desc &item = elabel_item_table[row];
    char label[64];
    std::snprintf(label, sizeof(label), "[0x%02x]%s:", static_cast<unsigned>(item.id),
                  elabel_item_names[row]);
    // The field is shown up to its first NUL, never beyond its end.
    std::printf("%-*s%.*s\n\r", LABEL_WIDTH, label, elabel_item_text_len(elabel_data, item),
                reinterpret_cast<const char *>(elabel_item_field(elabel_data, item)));
}

} // namespace

extern "C" void elabel_usage(void)
{
    std::puts(" Usage:\r\n");
    std::puts(" getall                                print all elabel info\r\n");
    std::puts(" get [id]                              get a elabel\r");
    std::puts(" set [id] [data]                       set a elabel and update it to the flash.\r\n");
}

extern "C" int32_t elabel_show_all(void)
{
    if (elabel_data == nullptr) {
        std::puts("Elabel data is NULL");
        return 0;
    }
    std::printf("=============================ELABEL=====================\n\r");
    std::printf("      magic_num:                     0x%04x\n\r", elabel_get_le32(elabel_data));
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        show_item(row);
    }
    std::printf("=============================================================\n\r");
    return 0;
}
