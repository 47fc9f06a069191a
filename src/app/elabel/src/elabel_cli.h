/* Command-line front end of the label tool. */
#ifndef ELABEL_CLI_H
#define ELABEL_CLI_H

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

/* `set [id] [data]`: argv[2] is the id text, argv[3] the new text. */
int32_t elabel_set_run(char *argv[]);

/* 0 when text is "0x" or "0X" followed by hexadecimal digits, with *out its value; -1 otherwise. */
int32_t elabel_parse_item_id(const char *text, int32_t *out);

#ifdef __cplusplus
}
#endif

#endif
