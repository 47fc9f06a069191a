"""Reads elabel-image's JSON document and prints it as plain lines for the test:
the header, then per item: id state length crc computed_crc and the text's bytes in hex."""
import json
import sys

with open(sys.argv[1], encoding="ascii") as f:
    doc = json.load(f)
print(doc["offset"], doc["magic"], doc["magic_ok"], doc["valid"], len(doc["items"]))
for item in doc["items"]:
    data = item["text"].encode("latin-1")
    print("%02x %s %s %d %d %d %d %s" % (item["id"], item["name"], item["state"], item["capacity"],
                                         item["length"], item["crc"], item["computed_crc"],
                                         data.hex() or "-"))
