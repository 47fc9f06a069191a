// One logging helper for the whole program: every line goes to the system log
// prefixed with "[source file, line, function]: ".
#ifndef ELABEL_LOG_H
#define ELABEL_LOG_H

#include <syslog.h>

void elabel_log(int priority, const char *file, int line, const char *func, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));

#define ELABEL_LOG(priority, ...) elabel_log((priority), __FILE__, __LINE__, __func__, __VA_ARGS__)
#define ELABEL_ERR(...) ELABEL_LOG(LOG_ERR, __VA_ARGS__)
// For a line that belongs to `func` but is logged by a helper it hands on.
#define ELABEL_ERR_FOR(func, ...) elabel_log(LOG_ERR, __FILE__, __LINE__, (func), __VA_ARGS__)

#endif
