// Argument vectors -> elabel_main, on a fake device holding a blank, a good or
// a damaged label.
//
// Input: [device choice][arguments separated by NUL bytes]
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "elabel.h"
#include "elabel_cli.h"
#include "elabel_image.h"
#include "fake_device.h"

namespace {

constexpr size_t MAX_ARGS = 6;
constexpr size_t MAX_INPUT = 4096;

void put_text(uint8_t *image, uint8_t id, const char *text)
{
    const elabel_item_desc *item = driver_elabel_find_item(id);
    const auto n = static_cast<uint16_t>(std::strlen(text));
    uint8_t *field = elabel_item_field(image, *item);
    std::memcpy(field, text, n + 1u);
    elabel_put_le16(image + item->offset + 2, n);
    elabel_put_le16(image + item->offset, elabel_crc16(field, n));
}

void prepare_device(uint8_t choice)
{
    fuzz::install_fake();
    if (choice % 3 == 0) {
        return;  // blank
    }
    static uint8_t image[ELABEL_DATA_LEN];
    std::memset(image, 0, sizeof(image));
    elabel_put_le32(image, ELABEL_MAGIC);
    put_text(image, 0x10, "1U");
    put_text(image, 0x30, "ACME");
    put_text(image, 0x64, "edge router, 8 ports %s %n");
    put_text(image, 0x50, "extra");
    if (choice % 3 == 2) {
        image[elabel_item_table[5].offset] ^= 0x5A;  // a bad checksum on bd_product_name
    }
    fuzz::put_label(image, sizeof(image));
}

bool is_result_code(int32_t ret)
{
    return ret == 0 || ret == -1 || ret == -4 || ret == -6 || ret == -8;
}

// A label loaded with its magic was verified, so the one written back is valid
// throughout; a label without it is written back as read, with the one change.
void check_set_stored(bool had_magic, const char *id_text, const char *text)
{
    int32_t id = 0;
    if (elabel_parse_item_id(id_text, &id) != 0) {
        fuzz::fail("set succeeded with a malformed id");
    }
    const elabel_item_desc *item = driver_elabel_find_item(static_cast<uint8_t>(id & 0xFF));
    if (item == nullptr || id < 0x30 || id > 0x68) {
        fuzz::fail("set succeeded on an item it may not change");
    }
    const uint8_t *image = fuzz::label();
    const size_t n = std::strlen(text);
    if ((had_magic && !fuzz::image_is_valid(image)) || elabel_item_len(image, *item) != n ||
        std::memcmp(elabel_item_field(image, *item), text, n) != 0 ||
        elabel_item_crc(image, *item) != elabel_crc16(elabel_item_field(image, *item),
                                                      static_cast<int32_t>(n))) {
        fuzz::fail("a successful set left another label on the device");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > MAX_INPUT) {
        return 0;
    }
    prepare_device(data[0]);

    // Each argument gets its own heap block, so ASan sees any read past its end.
    std::vector<std::vector<char>> args;
    args.push_back(std::vector<char>{'e', 'l', 'a', 'b', 'e', 'l', '\0'});
    // One byte alone gives no arguments; otherwise every NUL starts another one.
    for (size_t start = 1; size > 1 && args.size() < MAX_ARGS;) {
        size_t end = start;
        while (end < size && data[end] != 0) {
            ++end;
        }
        args.emplace_back(data + start, data + end);
        args.back().push_back('\0');
        if (end == size) {
            break;
        }
        start = end + 1;
    }
    char *argv[MAX_ARGS + 1] = {};
    for (size_t i = 0; i < args.size(); ++i) {
        argv[i] = args[i].data();
    }
    const int argc = static_cast<int>(args.size());

    const int32_t ret = elabel_main(argc, argv);
    if (!is_result_code(ret)) {
        fuzz::fail("elabel_main returned an unknown result code");
    }
    if (elabel_data != nullptr) {
        fuzz::fail("elabel_main kept the image");
    }
    if (ret == 0 && argc == 4 && std::strcmp(argv[1], "set") == 0) {
        check_set_stored(data[0] % 3 != 0, argv[2], argv[3]);
    }
    return 0;
}
