"""Reads elabel-image's JSON document, checks it against the JSON Schema (argv[2]) and
checks each item's text and computed checksum against its bytes; prints it as plain lines
for the test: the header, then per item: id name state capacity length crc the bytes in hex."""
import json
import sys

import jsonschema


def xmodem(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


with open(sys.argv[1], encoding="utf-8") as f:
    doc = json.load(f)
with open(sys.argv[2], encoding="utf-8") as f:
    jsonschema.validate(doc, json.load(f))
print(doc["format"], doc["version"], doc["offset"], doc["magic"], doc["magic_ok"], doc["valid"],
      len(doc["items"]), *(["template"] if doc.get("template") else []))
for item in doc["items"]:
    data = bytes.fromhex(item["hex"])
    assert item["id_hex"] == "0x%02x" % item["id"], item
    assert item["computed_crc"] == xmodem(data), item
    plain = all(b >= 0x20 and b != 0x7F for b in data)
    try:
        text = data.decode("utf-8") if plain else None
    except UnicodeDecodeError:
        text = None
    assert item["text"] == text, item
    print("%02x %s %s %d %d %d %s" % (item["id"], item["name"], item["state"], item["capacity"],
                                      item["length"], item["crc"], data.hex() or "-"))
