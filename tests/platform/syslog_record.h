// Takes the place of the C library's syslog (and of its fortified form) in a
// test program: what the library under test logs lands in g_log, never in the
// host's log.
#ifndef SYSLOG_RECORD_H
#define SYSLOG_RECORD_H

#include <string>
#include <utility>
#include <vector>

// Priority and text of each line, in order.
extern std::vector<std::pair<int, std::string>> g_log;

#endif
