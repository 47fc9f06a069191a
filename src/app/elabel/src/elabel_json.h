// The label as one JSON document, version 1: what elabel-image show --json
// prints and the store publishes (schema in man/elabel-image-label.schema.json).
#ifndef ELABEL_JSON_H
#define ELABEL_JSON_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "elabel.h"

// The document's "format" and "version".
constexpr const char *ELABEL_JSON_FORMAT = "elabel-label";
constexpr int ELABEL_JSON_VERSION = 1;

// Writes the document of `label`, found at byte `label_at` of its file. With
// `per_board`, a product template: "template": true, and the items it names
// left out.
void elabel_json_write(FILE *out, const uint8_t *label, size_t label_at,
                       bool (*per_board)(const elabel_item_desc &item) = nullptr);

// True when the bytes are UTF-8 without control bytes (0x00-0x1F, 0x7F).
bool elabel_is_plain_utf8(const uint8_t *bytes, size_t size);

#endif
