/*
 * Preloaded into the program under test: every syslog message is appended to
 * the file named by ELABEL_TEST_SYSLOG instead of reaching the system log.
 * Each record is "<priority> <length>\n<message bytes>\n". ELABEL_TEST_CLOCK,
 * when set, is what time() says (seconds since 1970), so that a test can set
 * a board's clock back.
 */
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

static void capture(int priority, const char *fmt, va_list args)
{
    const char *path = getenv("ELABEL_TEST_SYSLOG");
    if (path == NULL) {
        return;
    }
    char message[4096];
    int len = vsnprintf(message, sizeof(message), fmt, args);
    if (len < 0) {
        return;
    }
    if ((size_t)len >= sizeof(message)) {
        len = (int)sizeof(message) - 1;
    }
    char head[64];
    const int head_len = snprintf(head, sizeof(head), "%d %d\n", LOG_PRI(priority), len);
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    /* One write per record keeps records of concurrent processes whole. */
    char record[sizeof(head) + sizeof(message) + 1];
    memcpy(record, head, (size_t)head_len);
    memcpy(record + head_len, message, (size_t)len);
    record[head_len + len] = '\n';
    (void)!write(fd, record, (size_t)(head_len + len + 1));
    close(fd);
}

void vsyslog(int priority, const char *fmt, va_list args)
{
    capture(priority, fmt, args);
}

void syslog(int priority, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    capture(priority, fmt, args);
    va_end(args);
}

void __vsyslog_chk(int priority, int flag, const char *fmt, va_list args)
{
    (void)flag;
    capture(priority, fmt, args);
}

void __syslog_chk(int priority, int flag, const char *fmt, ...)
{
    (void)flag;
    va_list args;
    va_start(args, fmt);
    capture(priority, fmt, args);
    va_end(args);
}

time_t time(time_t *out)
{
    const char *clock = getenv("ELABEL_TEST_CLOCK");
    struct timespec now = {0, 0};
    if (clock == NULL) {
        (void)clock_gettime(CLOCK_REALTIME, &now);
    }
    const time_t t = clock != NULL ? (time_t)strtoll(clock, NULL, 10) : now.tv_sec;
    if (out != NULL) {
        *out = t;
    }
    return t;
}
