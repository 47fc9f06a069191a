/* Bounds-checked memory copy and fill. */
#ifndef SECUREC_H
#define SECUREC_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int errno_t;

/* Largest destination size the functions accept. */
#define SECUREC_MEM_MAX_LEN 0x7fffffffUL

#define EOK 0

/*
 * Both return EOK (0) on success. A null pointer, a destMax of 0 or above
 * SECUREC_MEM_MAX_LEN, a count above destMax, or overlapping buffers (memcpy_s)
 * give a nonzero error code. A count of 0 with a valid destination does nothing.
 */
errno_t memcpy_s(void *dest, size_t destMax, const void *src, size_t count);
errno_t memset_s(void *dest, size_t destMax, int c, size_t count);

#ifdef __cplusplus
}
#endif

#endif
