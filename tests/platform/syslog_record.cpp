#include "syslog_record.h"

#include <cstdarg>
#include <cstdio>

std::vector<std::pair<int, std::string>> g_log;

static void record(int priority, const char *format, va_list args)
{
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    g_log.emplace_back(priority, line);
}

extern "C" void syslog(int priority, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

extern "C" void __syslog_chk(int priority, int, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}
