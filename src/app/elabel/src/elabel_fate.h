// What becomes of a pending-write record is decided in one place, from the
// outcome of the write-back it guarded or of the settling that met it: the
// record is removed only when the part was read holding one of its labels,
// set aside when it cannot be finished, and left pending otherwise. A removal
// or a set-aside that fails leaves the record pending, and says so.
#ifndef ELABEL_FATE_H
#define ELABEL_FATE_H

#include <cstdint>

#include "elabel_writeback.h"

// Decides and carries out the fate of the record at the record path for
// `res->outcome` (`restore`: the record is a restore's, whose replaced state is
// a cut), logs one line where there is something to say, and notes a record
// that stays in `res->pending` and `res->why`. `crc` names a record set aside
// (0: read from the record); `detail` completes the message.
void elabel_record_decide(elabel_result *res, bool restore, uint32_t crc, const char *detail);

#endif
