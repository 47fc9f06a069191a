#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_fate.h"
#include "elabel_log.h"
#include "elabel_record.h"

namespace {

enum class fate { removed, pending, set_aside, damaged_aside };

// `restore` 0: a write-back's own record; 1: a restore's; 2: either (a record
// met before any write).
struct fate_rule {
    int32_t outcome;
    int restore;
    fate becomes;
    // What happened, for the log (nullptr: nothing worth a line) and, when the
    // record stays, for the write-back report.
    const char *said;
};

constexpr int OWN = 0;
constexpr int RESTORE = 1;
constexpr int MET = 2;

constexpr fate_rule RULES[] = {
    {ELABEL_WRITEBACK_WRITTEN, OWN, fate::removed, nullptr},
    {ELABEL_WRITEBACK_UNCHANGED, OWN, fate::removed,
     "label read back unchanged: the device ignored the writes (write-protected?)"},
    {ELABEL_WRITEBACK_FAILED, OWN, fate::removed, "the device still holds the label it had"},
    {ELABEL_WRITEBACK_UNCHECKED, OWN, fate::pending, "label not read back after the write-back"},
    {ELABEL_WRITEBACK_PARTIAL, OWN, fate::pending, "label not written whole"},
    {ELABEL_WRITEBACK_MISREAD, OWN, fate::pending, "label read back differs from the one written"},
    {ELABEL_WRITEBACK_WORN, OWN, fate::set_aside,
     "label read back other than written (a worn cell?)"},
    {ELABEL_WRITEBACK_WRITTEN, RESTORE, fate::removed,
     "label restored from an unfinished write-back"},
    {ELABEL_WRITEBACK_UNCHANGED, RESTORE, fate::pending,
     "label not restored: the device ignored the writes (write-protected?)"},
    {ELABEL_WRITEBACK_WORN, RESTORE, fate::set_aside,
     "label not restored: the device read back other than written"},
    {ELABEL_WRITEBACK_REFUSED, RESTORE, fate::pending,
     "label not restored: the restore's own record could not be stored"},
    {ELABEL_WRITEBACK_FOUND, MET, fate::removed, nullptr},
    {ELABEL_WRITEBACK_NEVER, MET, fate::removed, "unfinished write-back never changed the label"},
    {ELABEL_WRITEBACK_FOREIGN, MET, fate::set_aside,
     "unfinished write-back does not match what the device holds"},
    {ELABEL_WRITEBACK_NO_PART, MET, fate::pending,
     "label not checked against the unfinished write-back"},
    {ELABEL_WRITEBACK_DAMAGED, MET, fate::damaged_aside, "pending-write record damaged"},
    {ELABEL_WRITEBACK_EARLIER, MET, fate::set_aside, "pending-write record"},
    {ELABEL_WRITEBACK_LATER, MET, fate::pending, "pending-write record of a later format"},
    {ELABEL_WRITEBACK_UNREAD, MET, fate::pending, "pending-write record not read"},
    {ELABEL_WRITEBACK_BLOCKED, MET, fate::pending,
     "the record path is blocked: a directory; remove it"},
};

// Every other outcome of a restore (a pass failed, a cut, not read back)
// leaves it to finish; an outcome without a rule keeps the record too: never
// lose one by omission.
constexpr fate_rule RESTORE_UNDONE = {ELABEL_WRITEBACK_PARTIAL, RESTORE, fate::pending,
                                      "label not restored from the unfinished write-back"};
constexpr fate_rule UNRULED = {ELABEL_WRITEBACK_NONE, MET, fate::pending, "write-back not settled"};

const fate_rule &rule_for(int32_t outcome, bool restore)
{
    for (const fate_rule &rule : RULES) {
        if (rule.outcome == outcome && (rule.restore == MET || rule.restore == (restore ? 1 : 0))) {
            return rule;
        }
    }
    return restore ? RESTORE_UNDONE : UNRULED;
}

// Removes the record; `clause` says what became of it.
bool remove(char *clause, size_t size)
{
    if (elabel_record_remove() == 0) {
        std::snprintf(clause, size, "record %s removed", elabel_record_path());
        return true;
    }
    std::snprintf(clause, size, "record %s not removed (%s): it stays pending",
                  elabel_record_path(), std::strerror(errno));
    return false;
}

// Renames the record out of the way of later loads, for service; a record
// that cannot be renamed stays where it is.
bool set_aside(uint32_t crc, bool damaged, char *clause, size_t size)
{
    if (crc == 0) {
        static elabel_record own;
        const char *unused = nullptr;
        (void)elabel_record_read(&own, &unused);
        crc = own.crc;
    }
    char aside[ELABEL_RECORD_PATH_MAX];
    if (elabel_record_set_aside(crc, damaged, aside) == 0) {
        std::snprintf(clause, size, "record %s set aside as %s, label kept", elabel_record_path(),
                      aside);
        return true;
    }
    std::snprintf(clause, size, "record %s not set aside (%s): it stays pending",
                  elabel_record_path(), std::strerror(errno));
    return false;
}

// A blocked record path is said once per run, however often it is met.
bool said_before(int32_t outcome)
{
    static bool blocked_said = false;
    if (outcome != ELABEL_WRITEBACK_BLOCKED) {
        return false;
    }
    const bool before = blocked_said;
    blocked_said = true;
    return before;
}

} // namespace

void elabel_record_decide(elabel_result *res, bool restore, uint32_t crc, const char *detail)
{
    const fate_rule &rule = rule_for(res->outcome, restore);
    char what[ELABEL_REPORT_PATH_MAX];
    const char *said = rule.said != nullptr ? rule.said : "";
    if (detail != nullptr) {
        std::snprintf(what, sizeof(what), "%s: %s", said, detail);
    } else {
        std::snprintf(what, sizeof(what), "%s", said);
    }
    char clause[2 * ELABEL_RECORD_PATH_MAX];
    bool done = true;
    switch (rule.becomes) {
    case fate::removed:
        done = remove(clause, sizeof(clause));
        break;
    case fate::pending:
        std::snprintf(clause, sizeof(clause), "record %s kept", elabel_record_path());
        break;
    case fate::set_aside:
    case fate::damaged_aside:
        done = set_aside(crc, rule.becomes == fate::damaged_aside, clause, sizeof(clause));
        break;
    }
    if ((rule.said != nullptr || !done) && !said_before(res->outcome)) {
        ELABEL_ERR("%s; %s\n", what[0] != '\0' ? what : "write-back settled", clause);
    }
    if (rule.becomes == fate::pending || !done) {
        std::snprintf(res->pending, sizeof(res->pending), "%s", elabel_record_path());
        // What happened first; the clause names the record, which is in `pending` too.
        const int room = static_cast<int>(sizeof(res->why)) / 2 - 2;
        std::snprintf(res->why, sizeof(res->why), "%.*s%s%.*s", room, what,
                      what[0] != '\0' ? "; " : "", room, clause);
    }
}
