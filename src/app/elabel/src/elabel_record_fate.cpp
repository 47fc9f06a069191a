#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_fate.h"
#include "elabel_log.h"
#include "elabel_report.h"

namespace {

struct fate_rule {
    elabel_outcome outcome;
    elabel_fate fate;
    // What happened, for the log (nullptr: nothing worth a line) and, when the
    // record stays, for the write-back report.
    const char *said;
};

constexpr fate_rule RULES[] = {
    {elabel_outcome::wrote, elabel_fate::removed, nullptr},
    {elabel_outcome::ignored, elabel_fate::removed,
     "label read back unchanged: the device ignored the writes (write-protected?)"},
    {elabel_outcome::refused, elabel_fate::removed, "the device still holds the label it had"},
    {elabel_outcome::unchecked, elabel_fate::kept, "label not read back after the write-back"},
    {elabel_outcome::broken_off, elabel_fate::kept, "label not written whole"},
    {elabel_outcome::misread, elabel_fate::kept, "label read back differs from the one written"},
    {elabel_outcome::worn, elabel_fate::set_aside,
     "label read back other than written (a worn cell?)"},
    {elabel_outcome::restored, elabel_fate::removed,
     "label restored from an unfinished write-back"},
    {elabel_outcome::restore_ignored, elabel_fate::kept,
     "label not restored: the device ignored the writes (write-protected?)"},
    {elabel_outcome::restore_failed, elabel_fate::kept,
     "label not restored from the unfinished write-back"},
    {elabel_outcome::restore_worn, elabel_fate::set_aside,
     "label not restored: the device read back other than written"},
    {elabel_outcome::restore_unrecorded, elabel_fate::kept,
     "label not restored: the restore's own record could not be stored"},
    {elabel_outcome::found_written, elabel_fate::removed, nullptr},
    {elabel_outcome::found_unchanged, elabel_fate::removed,
     "unfinished write-back never changed the label"},
    {elabel_outcome::found_foreign, elabel_fate::set_aside,
     "unfinished write-back does not match what the device holds"},
    {elabel_outcome::device_unread, elabel_fate::kept,
     "label not checked against the unfinished write-back"},
    {elabel_outcome::record_damaged, elabel_fate::removed, "pending-write record discarded"},
    {elabel_outcome::record_earlier, elabel_fate::set_aside, "pending-write record"},
    {elabel_outcome::record_unreadable, elabel_fate::kept, "pending-write record not read"},
};

// An outcome without a rule keeps the record: never lose one by omission.
constexpr fate_rule UNRULED = {elabel_outcome::device_unread, elabel_fate::kept,
                               "write-back not settled"};

const fate_rule &rule_for(elabel_outcome outcome)
{
    for (const fate_rule &rule : RULES) {
        if (rule.outcome == outcome) {
            return rule;
        }
    }
    return UNRULED;
}

// "what happened: detail", or the part there is.
void describe(const fate_rule &rule, const char *detail, char *out, size_t size)
{
    const char *said = rule.said != nullptr ? rule.said : "";
    if (detail != nullptr) {
        std::snprintf(out, size, "%s: %s", said, detail);
    } else {
        std::snprintf(out, size, "%s", said);
    }
}

// Removes the record; `clause` says what became of it.
elabel_fate remove(char *clause, size_t size)
{
    if (elabel_record_remove() == 0) {
        std::snprintf(clause, size, "record %s removed", elabel_record_path());
        return elabel_fate::removed;
    }
    std::snprintf(clause, size, "record %s not removed (%s): it stays pending",
                  elabel_record_path(), std::strerror(errno));
    return elabel_fate::kept;
}

// Renames the record out of the way of later loads, for service; removes it
// when it cannot be renamed.
elabel_fate set_aside(const elabel_record *record, char *clause, size_t size)
{
    static elabel_record own;
    const char *unused = nullptr;
    if (record == nullptr && elabel_record_read(&own, &unused) == elabel_record_state::intact) {
        record = &own;
    }
    char aside[ELABEL_RECORD_PATH_MAX];
    if (record != nullptr && elabel_record_set_aside(record, aside) == 0) {
        std::snprintf(clause, size, "record %s set aside as %s, label kept",
                      elabel_record_path(), aside);
        return elabel_fate::set_aside;
    }
    const int err = errno;
    const elabel_fate fate = remove(clause, size);
    if (fate == elabel_fate::removed) {
        std::snprintf(clause, size, "record %s not set aside (%s) but removed",
                      elabel_record_path(), std::strerror(err));
    }
    return fate;
}

} // namespace

elabel_fate elabel_record_decide(elabel_outcome outcome, const elabel_record *record,
                                 const char *detail)
{
    const fate_rule &rule = rule_for(outcome);
    char what[ELABEL_REPORT_PATH_MAX];
    describe(rule, detail, what, sizeof(what));
    char clause[2 * ELABEL_RECORD_PATH_MAX];
    elabel_fate fate = rule.fate;
    switch (rule.fate) {
    case elabel_fate::removed:
        fate = remove(clause, sizeof(clause));
        break;
    case elabel_fate::kept:
        std::snprintf(clause, sizeof(clause), "record %s kept", elabel_record_path());
        break;
    case elabel_fate::set_aside:
        fate = set_aside(record, clause, sizeof(clause));
        break;
    }
    if (rule.said != nullptr || fate != rule.fate) {
        ELABEL_ERR("%s; %s\n", what[0] != '\0' ? what : "write-back settled", clause);
    }
    if (fate == elabel_fate::kept) {
        char why[sizeof(what) + sizeof(clause) + 2];
        std::snprintf(why, sizeof(why), "%s%s%s", what, what[0] != '\0' ? "; " : "", clause);
        elabel_report_pending(elabel_record_path(), why);
    }
    return fate;
}
