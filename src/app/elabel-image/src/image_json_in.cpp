// build --json: the items of a label document (show --json's, or a template),
// read with json-c in strict mode. Only each item's id or name and its text count.
#include <json-c/json_object.h>
#include <json-c/json_tokener.h>

#include <climits>
#include <cstring>

#include "image_tool.h"

namespace {

constexpr int MAX_DEPTH = 8;

struct json_doc {
    json_object *root;
    ~json_doc() { json_object_put(root); }
};

// The document as parsed. Strict mode refuses anything after the value but white space.
json_object *parse(const uint8_t *doc, size_t size, const char *name)
{
    json_tokener *tok = json_tokener_new_ex(MAX_DEPTH);
    if (tok == nullptr) {
        image_error("%s: out of memory", name);
        return nullptr;
    }
    json_tokener_set_flags(tok, JSON_TOKENER_STRICT | JSON_TOKENER_VALIDATE_UTF8);
    const int len = static_cast<int>(size);  // size <= IMAGE_FILE_MAX
    json_object *root = json_tokener_parse_ex(tok, reinterpret_cast<const char *>(doc), len);
    const json_tokener_error err = json_tokener_get_error(tok);
    if (root == nullptr || err != json_tokener_success) {
        image_error("%s: not a JSON document (%s, near byte %zu)", name,
                    err == json_tokener_continue ? "unexpected end" : json_tokener_error_desc(err),
                    json_tokener_get_parse_end(tok));
        json_object_put(root);
        root = nullptr;
    }
    json_tokener_free(tok);
    return root;
}

json_object *member(json_object *obj, const char *key)
{
    json_object *value = nullptr;
    return json_object_object_get_ex(obj, key, &value) ? value : nullptr;
}

// The header: an object, and when given, the format and version this program writes.
int check_header(json_object *root, const char *name)
{
    if (!json_object_is_type(root, json_type_object)) {
        image_error("%s: the document is not a JSON object", name);
        return IMAGE_USAGE;
    }
    json_object *format = member(root, "format");
    if (format != nullptr && (!json_object_is_type(format, json_type_string) ||
                              std::strcmp(json_object_get_string(format), ELABEL_JSON_FORMAT) != 0)) {
        image_error("%s: \"format\" is not \"%s\"", name, ELABEL_JSON_FORMAT);
        return IMAGE_USAGE;
    }
    json_object *version = member(root, "version");
    if (version != nullptr && (!json_object_is_type(version, json_type_int) ||
                               json_object_get_int64(version) != ELABEL_JSON_VERSION)) {
        image_error("%s: \"version\" is not %d, the version this program reads", name,
                    ELABEL_JSON_VERSION);
        return IMAGE_USAGE;
    }
    if (!json_object_is_type(member(root, "items"), json_type_array)) {
        image_error("%s: no \"items\" array", name);
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

// The item one naming field gives: "id" a number, "id_hex" and "name" strings
// read as build's ID is.
const elabel_item_desc *named_by(const char *key, json_object *value)
{
    if (std::strcmp(key, "id") == 0) {
        const int64_t id = json_object_is_type(value, json_type_int) ? json_object_get_int64(value) : -1;
        return id >= 0 && id <= 0xFF ? driver_elabel_find_item(static_cast<uint8_t>(id)) : nullptr;
    }
    if (!json_object_is_type(value, json_type_string)) {
        return nullptr;
    }
    return image_find_item(json_object_get_string(value),
                           static_cast<size_t>(json_object_get_string_len(value)));
}

// The item that "id_hex", "name" and "id" name; all that are given must agree.
const elabel_item_desc *item_of(json_object *entry, const char *where)
{
    const elabel_item_desc *found = nullptr;
    constexpr const char *keys[] = {"id_hex", "name", "id"};
    for (const char *key : keys) {
        json_object *value = member(entry, key);
        if (value == nullptr) {
            continue;
        }
        const elabel_item_desc *item = named_by(key, value);
        if (item == nullptr) {
            image_error("%s: \"%s\": %s names no item", where, key, json_object_to_json_string(value));
            return nullptr;
        }
        if (found != nullptr && found != item) {
            image_error("%s: \"%s\" names item 0x%02x, another field item 0x%02x", where, key,
                        item->id, found->id);
            return nullptr;
        }
        found = item;
    }
    if (found == nullptr) {
        image_error("%s: no \"id_hex\", \"name\" or \"id\"", where);
    }
    return found;
}

int hex_digit(char c)
{
    const char *digits = "0123456789abcdef0123456789ABCDEF";
    const char *at = c != '\0' ? std::strchr(digits, c) : nullptr;
    return at != nullptr ? static_cast<int>(at - digits) % 16 : -1;
}

// "hex" into bytes: an even number of hexadecimal digits, at most `room` bytes.
bool decode_hex(json_object *value, uint8_t *out, size_t room, size_t *len)
{
    const char *hex = json_object_get_string(value);
    const size_t digits = static_cast<size_t>(json_object_get_string_len(value));
    if (digits % 2 != 0 || digits / 2 > room) {
        return false;
    }
    for (size_t i = 0; i < digits / 2; ++i) {
        const int high = hex_digit(hex[2 * i]);
        const int low = hex_digit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    *len = digits / 2;
    return true;
}

// The item's text: "text" when it is a string, else the bytes of "hex".
int put_entry(json_object *entry, const elabel_item_desc &item, uint8_t *label, const char *where)
{
    json_object *text = member(entry, "text");
    if (json_object_is_type(text, json_type_string)) {
        return image_put_text(label, item, reinterpret_cast<const uint8_t *>(json_object_get_string(text)),
                              static_cast<size_t>(json_object_get_string_len(text)), where);
    }
    json_object *hex = member(entry, "hex");
    if (text != nullptr && !json_object_is_type(text, json_type_null)) {
        image_error("%s: \"text\" is neither a string nor null", where);
        return IMAGE_USAGE;
    }
    if (!json_object_is_type(hex, json_type_string)) {
        image_error("%s: no \"text\" string and no \"hex\" string", where);
        return IMAGE_USAGE;
    }
    uint8_t bytes[ELABEL_DATA_LEN];
    size_t len = 0;
    if (!decode_hex(hex, bytes, sizeof(bytes), &len)) {
        image_error("%s: \"hex\" is not an even number of hexadecimal digits", where);
        return IMAGE_USAGE;
    }
    return image_put_text(label, item, bytes, len, where);
}

int patch_items(json_object *items, const char *name, uint8_t *label, uint32_t *rows)
{
    const size_t count = json_object_array_length(items);
    for (size_t i = 0; i < count; ++i) {
        char where[PATH_MAX + 32];
        std::snprintf(where, sizeof(where), "%s: items[%zu]", name, i);
        json_object *entry = json_object_array_get_idx(items, i);
        if (!json_object_is_type(entry, json_type_object)) {
            image_error("%s: not an object", where);
            return IMAGE_USAGE;
        }
        const elabel_item_desc *item = item_of(entry, where);
        if (item == nullptr) {
            return IMAGE_USAGE;
        }
        const uint32_t bit = 1u << (item - elabel_item_table);
        if ((*rows & bit) != 0) {
            image_error("%s: item 0x%02x (%s) given twice", where, item->id, image_item_name(*item));
            return IMAGE_USAGE;
        }
        *rows |= bit;
        if (put_entry(entry, *item, label, where) != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    return IMAGE_OK;
}

} // namespace

int image_json_patch(const uint8_t *doc, size_t size, const char *path, uint8_t *label,
                     uint32_t *rows)
{
    const char *name = image_file_name(path);
    json_doc parsed{parse(doc, size, name)};
    if (parsed.root == nullptr || check_header(parsed.root, name) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    return patch_items(member(parsed.root, "items"), name, label, rows);
}
