/*
 * Electronic label store: the board's identity record kept in an I2C EEPROM.
 *
 * The store keeps one image of the label in memory (elabel_data), loads it
 * from the EEPROM with verification and repair, hands out and changes its
 * items, and writes it back. Access to the EEPROM is serialised between
 * processes by a record lock on ELABEL_LOCK_FILE.
 *
 * Result codes: 0 success; -1 general failure; -4 memory or copy failure, or
 * no image; -6 invalid argument, no such item, or data too long; -8 the lock
 * was not obtained (bus busy).
 *
 * What the store promises a program that links it:
 * - Calls come from one thread at a time: the image, the lock and the record
 *   are module-wide state without locking of their own.
 * - A write-back (driver_elabel_update, and a load that finds no label) holds
 *   SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGTSTP in the calling thread only,
 *   from taking the lock until the label was written and read back; a signal
 *   sent to the process meanwhile may be taken by another thread.
 * - A write-back succeeds only when the device was read back holding the
 *   image. Cut short (power loss, crash, failed write), it is finished by the
 *   next load, from a record of both the image and the label it replaced.
 * - The lock nests within the process: only the outermost elabel_set_lock
 *   and elabel_set_unlock reach the lock file. Each store call locks and
 *   unlocks on its own, so a program that loads, pauses and writes back
 *   writes over whatever other processes wrote meanwhile, unless it holds the
 *   lock for the whole change:
 *       elabel_set_lock(&fd, ELABEL_LOCK_TRIES);
 *       driver_elabel_init(); set_data_to_elabel_mem(...); driver_elabel_update();
 *       elabel_set_unlock(fd);
 *   A write-back under a lock held since the load also reads the device once
 *   less: the load's read is the label it replaces.
 * - Calls that may write the EEPROM: driver_elabel_update and
 *   driver_elabel_clear (a write-back each), the raw driver_flash_erase and
 *   driver_flash_writ calls, and every call that loads: driver_elabel_init,
 *   elabel_get_data and elabel_set_data always, driver_elabel_get_data and
 *   driver_elabel_set_data when no image is loaded. A load writes when it finds
 *   no magic (it writes the repaired label back) or a pending-write record (it
 *   finishes that write-back or puts back the label it replaced). The item
 *   writes themselves change only the image in memory.
 * - set_data_to_elabel_mem is the one call that prints: a text too long for
 *   its item gets "Data is too long, should be less than N" (and "\r\n") on
 *   standard output, besides its log line.
 */
#ifndef ELABEL_H
#define ELABEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ELABEL_MAGIC 0x454C4142u
#define ELABEL_DATA_LEN 2360
#define ELABEL_FLASH_OFFSET 512
#define ELABEL_ITEM_NUM 26
#define ELABEL_I2C_DEV "/dev/i2c-8"
#define ELABEL_I2C_ADDR 0xA0
#define ELABEL_LOCK_FILE "/run/elabel_lock_flag"
#define ELABEL_LOCK_TRIES 1000u

/* Each item block: crc (u16 LE), len (u16 LE), then max_len data bytes. */
#define ELABEL_ITEM_HEAD_LEN 4

typedef struct elabel_item_desc {
    uint8_t id;
    uint16_t max_len;
    uint64_t offset;           /* of the item's block within the image */
    const char *default_value;
} elabel_item_desc;

/* The current image (ELABEL_DATA_LEN bytes), or NULL when none is loaded. */
extern uint8_t *elabel_data;

/* The 26 items, in image order. */
extern const elabel_item_desc elabel_item_table[ELABEL_ITEM_NUM];

/* Image format */
uint16_t elabel_crc16(const uint8_t *data, int32_t len);
const elabel_item_desc *driver_elabel_find_item(uint8_t id);
int32_t driver_elabel_item_set_default(int32_t row);  /* 0; 1 */
int32_t driver_elabel_set_default(void);              /* 0; 1 */

/* Inter-process lock; nests within the process (see above) */
int32_t elabel_set_lock(int32_t *fd_out, uint32_t tries);  /* 0; -1 */
int32_t elabel_set_unlock(int32_t fd);                     /* 0; -1 */

/* Raw EEPROM transfers of the label region, at most ELABEL_DATA_LEN bytes from
 * its start (a longer length or no buffer is refused and logged). They take no
 * lock, keep no pending-write record and do not read back: a program changes
 * the label with the item writes and driver_elabel_update. */
int32_t driver_flash_readElectronicLabel(uint8_t *buffer, uint32_t length);  /* 0; 1 */
int32_t driver_flash_eraseElectronicLabel(void);                             /* 0; -1 */
int32_t driver_flash_writElectronicLabel(uint8_t *buffer, uint32_t length);  /* 0; -1 */

/* Loading, reading and write-back */
int32_t driver_elabel_verify(uint8_t *image);              /* 0 */
int32_t driver_elabel_flash_read_verify(uint8_t *image);   /* 0; 1 */
int32_t driver_elabel_init(void);                          /* 0; -1; -4; -8 */
void driver_elabel_release(void);
int32_t driver_elabel_get_data(uint8_t id, uint8_t *out, uint32_t out_size,
                               uint16_t *out_len);         /* 0; -1; -4; -6 */
int32_t driver_elabel_update(void);                        /* 0; -1; -4; -8 */

/* Item writing, clearing and reload entry points */
int32_t set_data_to_elabel_mem(uint8_t id, const char *text);  /* 0; -4; -6 */
int32_t driver_elabel_set_data(uint8_t id, const uint8_t *data, uint16_t offset,
                               int32_t count);                 /* 0; -1; -4; -6 */
int32_t elabel_set_data(uint8_t id, const uint8_t *data, uint16_t offset, int32_t count);
int32_t elabel_get_data(uint8_t id, uint8_t *out, uint32_t out_size, uint16_t *out_len);
int32_t driver_elabel_clear(void);                             /* 0; -1; -4; -8 */

/*
 * What the last write-back of this process came to, for programs that tell
 * their user (the store itself prints nothing); also what a load came to when
 * it settled a pending-write record left by an earlier write-back, or found
 * one it could not settle. Kept until the next load or write-back. One code
 * says both what the part holds and what became of the record; `pending`
 * names a record that stays whatever the code, and `why` says why.
 */
#define ELABEL_WRITEBACK_NONE 0       /* no write-back ran and no record was met */
#define ELABEL_WRITEBACK_WRITTEN 1    /* written and read back (a restore: the record's label) */
#define ELABEL_WRITEBACK_REFUSED 2    /* nothing written: `why` says why */
#define ELABEL_WRITEBACK_UNCHANGED 3  /* the writes went through, the part holds what it had */
#define ELABEL_WRITEBACK_UNCHECKED 4  /* written without an error, not read back: record stays */
#define ELABEL_WRITEBACK_PARTIAL 5    /* a pass failed, the part may hold a cut: record stays */
#define ELABEL_WRITEBACK_FAILED 6     /* a pass failed, the part holds what it had */
#define ELABEL_WRITEBACK_MISREAD 7    /* read back as a cut although the writes went: record stays */
#define ELABEL_WRITEBACK_WORN 8       /* read back other than written: the record is set aside */
/* A pending-write record met by a load (or elabel-image recover): */
#define ELABEL_WRITEBACK_FOUND 9      /* the part already holds its label: record removed */
#define ELABEL_WRITEBACK_NEVER 10     /* its write-back never changed the part: record removed */
#define ELABEL_WRITEBACK_FOREIGN 11   /* the part holds neither of its labels: set aside */
#define ELABEL_WRITEBACK_DAMAGED 12   /* the record does not check: set aside, label left alone */
#define ELABEL_WRITEBACK_EARLIER 13   /* an earlier format, which cannot be judged: set aside */
#define ELABEL_WRITEBACK_LATER 14     /* a later format: it stays and writes wait for it */
#define ELABEL_WRITEBACK_UNREAD 15    /* the record could not be read now: it stays */
#define ELABEL_WRITEBACK_NO_PART 16   /* the part could not be read to judge it: it stays */
#define ELABEL_WRITEBACK_BLOCKED 17   /* something other than a file is at the record's path */
#define ELABEL_REPORT_PATH_MAX 512

typedef struct elabel_writeback_report {
    int32_t outcome;     /* ELABEL_WRITEBACK_... */
    int32_t recorded;    /* 1: a pending-write record guarded it; 0: written without one */
    uint32_t reset_rows; /* item-table rows (a bit each) stored as their default in place of
                            bytes that failed their check */
    char kept[ELABEL_REPORT_PATH_MAX];    /* the label it replaced, kept there first; "" none */
    char pending[ELABEL_REPORT_PATH_MAX]; /* a pending-write record that stays; "" none */
    char why[ELABEL_REPORT_PATH_MAX];     /* why nothing was written, why the record stays,
                                             or why no record guarded the write-back */
} elabel_writeback_report;

void elabel_writeback_report_get(elabel_writeback_report *out);

#ifdef __cplusplus
}
#endif

#endif
