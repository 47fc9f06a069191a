// Device bytes and one item change -> load with verification and repair,
// listing, a get of every id, the change and the write-back, on the fake device.
//
// Input: [read faults][write faults][item id][text length, 16-bit LE][text][label bytes]
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "elabel.h"
#include "elabel_cli.h"
#include "elabel_image.h"
#include "fake_device.h"

namespace {

constexpr size_t HEADER_LEN = 5;
constexpr size_t MAX_TEXT_LEN = 600;
constexpr uint32_t GET_BUFFER_LEN = 512;
constexpr uint8_t SENTINEL = 0xA5;

struct input {
    uint8_t fail_reads;
    uint8_t fail_writes;
    uint8_t id;
    char text[MAX_TEXT_LEN + 1];
    const uint8_t *label;
    size_t label_size;
};

bool parse(const uint8_t *data, size_t size, input *in)
{
    if (size < HEADER_LEN) {
        return false;
    }
    in->fail_reads = data[0];
    in->fail_writes = data[1];
    in->id = data[2];
    size_t text_len = elabel_get_le16(data + 3) % (MAX_TEXT_LEN + 1);
    data += HEADER_LEN;
    size -= HEADER_LEN;
    if (text_len > size) {
        text_len = size;
    }
    std::memcpy(in->text, data, text_len);
    in->text[text_len] = '\0';
    in->label = data + text_len;
    in->label_size = size - text_len;
    return true;
}

void check_get_every_id()
{
    for (unsigned id = 0; id <= 0xFF; ++id) {
        uint8_t out[GET_BUFFER_LEN];
        std::memset(out, SENTINEL, sizeof(out));
        uint16_t len = 0xFFFF;
        const int32_t ret = driver_elabel_get_data(static_cast<uint8_t>(id), out, sizeof(out), &len);
        const elabel_item_desc *item = driver_elabel_find_item(static_cast<uint8_t>(id));
        if (item == nullptr) {
            if (ret != -6 && ret != -1) {
                fuzz::fail("get of an unknown id did not fail");
            }
            continue;
        }
        if (ret != 0) {
            continue;
        }
        if (len > item->max_len || elabel_data == nullptr) {
            fuzz::fail("get returned a length beyond the item");
        }
        if (std::memcmp(out, elabel_item_field(elabel_data, *item), len) != 0) {
            fuzz::fail("get returned other bytes than the item holds");
        }
        for (size_t i = len; i < sizeof(out); ++i) {
            if (out[i] != SENTINEL) {
                fuzz::fail("get wrote beyond the item's length");
            }
        }
    }
}

void check_set(int32_t ret, uint8_t id, const char *text)
{
    if (ret != 0) {
        return;
    }
    const elabel_item_desc *item = driver_elabel_find_item(id);
    const size_t n = std::strlen(text);
    if (item == nullptr || elabel_data == nullptr || n >= item->max_len) {
        fuzz::fail("set accepted an unknown item or a text too long");
    }
    const uint8_t *field = elabel_item_field(elabel_data, *item);
    if (elabel_item_len(elabel_data, *item) != n || std::memcmp(field, text, n) != 0 ||
        elabel_item_crc(elabel_data, *item) != elabel_crc16(field, static_cast<int32_t>(n))) {
        fuzz::fail("set stored another text, length or checksum");
    }
    for (size_t i = n; i < item->max_len; ++i) {
        if (field[i] != 0) {
            fuzz::fail("set left old bytes after the text");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static input in;
    if (!parse(data, size, &in)) {
        return 0;
    }
    fuzz::install_fake();
    fuzz::put_label(in.label, in.label_size);
    fuzz::g_device.fail_reads = in.fail_reads;
    fuzz::g_device.fail_writes = in.fail_writes;
    static uint8_t before[ELABEL_DATA_LEN];
    std::memcpy(before, fuzz::label(), sizeof(before));

    const int32_t loaded = driver_elabel_init();
    if (loaded != 0 && loaded != -1) {
        fuzz::fail("load returned an unexpected code");
    }
    if (loaded == 0 && (elabel_data == nullptr || !fuzz::image_is_valid(elabel_data))) {
        fuzz::fail("a successful load left an invalid image");
    }
    elabel_show_all();
    check_get_every_id();

    check_set(set_data_to_elabel_mem(in.id, in.text), in.id, in.text);
    const bool valid = elabel_data != nullptr && fuzz::image_is_valid(elabel_data);
    static uint8_t image[ELABEL_DATA_LEN];
    if (elabel_data != nullptr) {
        std::memcpy(image, elabel_data, sizeof(image));
    }

    const int32_t updated = driver_elabel_update();
    if (elabel_data == nullptr) {
        if (updated != -4 || std::memcmp(before, fuzz::label(), sizeof(before)) != 0) {
            fuzz::fail("the device changed although no load read it");
        }
    } else if (updated == 0) {
        if (std::memcmp(fuzz::label(), image, sizeof(image)) != 0) {
            fuzz::fail("the write-back did not store the image");
        }
        if (valid) {
            fuzz::g_device.fail_reads = 0;
            fuzz::g_device.fail_writes = 0;
            if (driver_elabel_init() != 0 || std::memcmp(elabel_data, image, sizeof(image)) != 0) {
                fuzz::fail("a written label did not load back unchanged");
            }
        }
    }

    driver_elabel_release();
    if (elabel_data != nullptr) {
        fuzz::fail("release kept the image");
    }
    return 0;
}
