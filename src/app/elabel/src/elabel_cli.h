/* Command-line front end of the label tool. */
#ifndef ELABEL_CLI_H
#define ELABEL_CLI_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Runs one command line; the result becomes the process exit status. */
int32_t elabel_main(int argc, char *argv[]);
void elabel_usage(void);
int32_t elabel_show_all(void);

/* Says on standard error what the last write-back did beyond its success:
 * items reset and where the label was kept, a record that stays, a write-back
 * without a record. */
void elabel_tell_writeback(void);
/* Whether elabel_tell_writeback has said what a write-back came to since a
 * run began (elabel_writeback_untold). */
bool elabel_writeback_told(void);
void elabel_writeback_untold(void);

/* `set [id] [data]`: argv[2] is the id text, argv[3] the new text. Ends with
 * elabel_finish itself: a termination signal held during its write-back takes
 * effect only after the outcome is out. */
int32_t elabel_set_run(char *argv[]);

/* Ends a run's output: says on standard error when the lock file could not be
 * opened (for a failed run) and when standard output could not be written (with
 * "the label was written" when label_written). Returns ret, or -1 for a ret of 0
 * whose output was lost. */
int32_t elabel_finish(int32_t ret, bool label_written);

/* For getall and get when this user may not open the lock file (lock_error,
 * its errno): makes the published copy the image and says so on standard error
 * with when it was read; false when there is none, said on standard error. */
bool elabel_use_published(int lock_error);

/* An errno of the lock file's open that means this user may not use the board. */
bool elabel_lacks_permission(int err);

/* 0 when text is "0x" or "0X" followed by hexadecimal digits, with *out its value; -1 otherwise. */
int32_t elabel_parse_item_id(const char *text, int32_t *out);

#ifdef __cplusplus
}
#endif

#endif
