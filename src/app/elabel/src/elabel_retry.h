// Repeats a store operation while the label is locked by another process.
#ifndef ELABEL_RETRY_H
#define ELABEL_RETRY_H

#include <cstdint>

// Calls op up to tries times, stopping at the first result other than -8
// (bus busy); pauses 1 ms after every -8, the last included. Returns the last result.
int32_t elabel_retry_while_busy(int32_t (*op)(), int tries);

#endif
