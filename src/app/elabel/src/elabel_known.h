// What the device's label region holds, as this process last read it while
// holding the lock. A write-back uses it as the label it replaces; any write
// of the region, and the release of the lock, make it unknown.
#ifndef ELABEL_KNOWN_H
#define ELABEL_KNOWN_H

#include <cstdint>

#include "elabel.h"

// Notes a successful read of `length` bytes of the region, if the lock is held.
void elabel_known_note(const uint8_t *label, uint32_t length);
void elabel_known_forget();
// The region as last read under the held lock, or nullptr when unknown.
const uint8_t *elabel_known();

#endif
