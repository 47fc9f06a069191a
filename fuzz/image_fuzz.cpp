// Arbitrary file bytes -> elabel-image's decoder: locating the label (by the
// default rule and at an offset taken from the first byte), check, the listing
// and the JSON document, and an item patched as build does.
//
// Checks: the listing holds only printable ASCII and newlines; the JSON's
// "valid" agrees with check, and build --json reads it back: every valid item
// whose text is plain gets the same bytes; a patched item becomes valid and
// leaves the other items' states as they were.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "elabel_image.h"
#include "fake_device.h"
#include "image_tool.h"

namespace {

image_file g_file;

// The JSON document read back as build --json reads it.
void check_json_round_trip(const uint8_t *label, const char *doc, size_t size)
{
    uint8_t rebuilt[ELABEL_DATA_LEN] = {};
    uint32_t rows = 0;
    if (image_json_patch(reinterpret_cast<const uint8_t *>(doc), size, "fuzz", rebuilt, &rows) !=
        IMAGE_OK) {
        // Refused only for what build does not take: a full field, control bytes.
        for (const auto &item : elabel_item_table) {
            const uint8_t *field = elabel_item_field(label, item);
            const uint16_t len = image_shown_len(label, item);
            if (len == item.max_len) {
                return;
            }
            for (uint16_t i = 0; i < len; ++i) {
                if (field[i] < 0x20 || field[i] == 0x7F) {
                    return;
                }
            }
        }
        fuzz::fail("the JSON document was not read back");
    }
    for (const auto &item : elabel_item_table) {
        const uint16_t len = elabel_item_len(label, item);
        if (elabel_item_valid(label, item) &&
            (elabel_item_len(rebuilt, item) != len ||
             std::memcmp(elabel_item_field(rebuilt, item), elabel_item_field(label, item), len) != 0)) {
            fuzz::fail("an item's text changed through the JSON document");
        }
    }
}

// Runs one output function into memory and checks what it wrote.
template <typename Print>
void check_output(Print print, const char *must_hold, const uint8_t *json_of = nullptr)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    if (out == nullptr) {
        fuzz::fail("open_memstream");
    }
    print(out);
    std::fclose(out);
    for (size_t i = 0; i < size && json_of == nullptr; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c != '\n' && (c < 0x20 || c > 0x7E)) {
            fuzz::fail("a raw byte in the output");
        }
    }
    if (json_of != nullptr) {
        check_json_round_trip(json_of, text, size);
    }
    if (must_hold != nullptr && std::strstr(text, must_hold) == nullptr) {
        fuzz::fail(must_hold);
    }
    std::free(text);
}

void check_patch(const uint8_t *label)
{
    uint8_t copy[ELABEL_DATA_LEN];
    std::memcpy(copy, label, sizeof(copy));
    uint32_t rows = 0;
    if (image_patch_item(copy, "0x30=fuzz", &rows) != IMAGE_OK) {
        fuzz::fail("patch refused");
    }
    for (const auto &item : elabel_item_table) {
        const elabel_item_state want =
            item.id == 0x30 ? elabel_item_state::ok : elabel_item_check(label, item);
        if (elabel_item_check(copy, item) != want) {
            fuzz::fail("a patch changed the wrong item");
        }
    }
}

void decode(long offset)
{
    if (image_locate(&g_file, offset) != 0) {
        return;
    }
    const uint8_t *label = g_file.bytes + g_file.label_at;
    const bool valid = image_problems(label, "fuzz", false) == 0;
    check_output([&](FILE *out) { image_show_text(out, label); }, nullptr);
    check_output([&](FILE *out) { elabel_json_write(out, label, g_file.label_at); },
                 valid ? "\"valid\": true" : "\"valid\": false", label);
    check_patch(label);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > IMAGE_FILE_MAX) {
        return 0;
    }
    std::memcpy(g_file.bytes, data, size);
    g_file.size = size;
    decode(-1);
    if (size > 0) {
        decode(data[0] * 16L);
    }
    return 0;
}
