// Bus-time benchmark: runs the production `elabel` (and `elabel-image set`,
// when given) on the simulated EEPROM at 100 and 400 kHz and compares the
// modeled bus time of each command with the physical bound of the same
// transfers. A row of several runs sums them.
//
// The bound is what the bus cannot go below: every byte the commands put on
// the bus (address bytes and word addresses included) at 9 bit times, plus one
// full write cycle for every page written. The library writes only the pages
// that differ from what the part holds, after reading them, so the bound counts
// those reads and those pages, not the whole label.
//
// Each row runs on one of three paths: i2c-dev, and the nvmem file of a kernel
// driver bound to the chip, given no page size (one byte per write cycle, the
// driver's default) or the part's 32 bytes. The model adds start and stop
// conditions, the address polls refused while the chip is busy, the pauses
// between them, and the part of each write cycle that passes before the poll
// that finds the chip ready.
//
// usage: bench_bus ELABEL SIM_LIBRARY_DIR [ELABEL_IMAGE]
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "private_mounts.h"

namespace {

constexpr double TARGET_RATIO = 1.01;

struct totals {
    uint32_t reads;
    uint32_t writes;
    uint32_t failed;
    uint64_t elapsed_ns;
    uint64_t bound_ns;
    uint64_t transactions;
    uint64_t bytes;
    uint64_t page_writes;
    uint64_t polls;
    uint64_t read_back_ns;  // reads after a write of the same run: the write-back checking it
};

using command = std::vector<const char *>;

struct scenario {
    const char *label;
    bool image;  // the runs are elabel-image's
    std::vector<command> runs;
    int status = 0;  // what each run exits with
};

uint64_t field(const char *line, const char *key)
{
    char needle[64];
    std::snprintf(needle, sizeof needle, " %s=", key);
    const char *at = std::strstr(line, needle);
    return at == nullptr ? 0 : std::strtoull(at + std::strlen(needle), nullptr, 10);
}

bool read_totals(const std::string &path, totals *t)
{
    FILE *in = std::fopen(path.c_str(), "r");
    if (in == nullptr) {
        return false;
    }
    *t = totals{};
    bool wrote = false;  // in this run: each run numbers its calls from 1, reads first
    char line[1024];
    while (std::fgets(line, sizeof line, in) != nullptr) {
        const std::string padded = std::string(" ") + line;
        const char *p = padded.c_str();
        const bool write = std::strstr(p, " op=write ") != nullptr;
        (write ? t->writes : t->reads) += 1;
        wrote = write || (wrote && field(p, "call") != 1);
        if (!write && wrote) {
            t->read_back_ns += field(p, "elapsed_ns");
        }
        t->failed += std::strstr(p, " result=0 ") == nullptr;
        t->elapsed_ns += field(p, "elapsed_ns");
        t->bound_ns += field(p, "bound_ns");
        t->transactions += field(p, "transactions");
        t->bytes += field(p, "bytes");
        t->page_writes += field(p, "page_writes");
        t->polls += field(p, "polls");
    }
    std::fclose(in);
    return true;
}

// Runs the program with its output discarded; its exit status, or -1.
int run_program(const char *program, const command &args)
{
    std::fflush(stdout); // or the child's freopen would print it again
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        std::vector<char *> argv{const_cast<char *>(program)};
        for (const char *a : args) {
            argv.push_back(const_cast<char *>(a));
        }
        argv.push_back(nullptr);
        if (std::freopen("/dev/null", "w", stdout) == nullptr) {
            _exit(126);
        }
        execv(program, argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Runs each of the scenario's commands; 0, or the first status that was not
// the scenario's.
int run_scenario(const scenario &s, const char *elabel, const char *image)
{
    for (const command &args : s.runs) {
        const int status = run_program(s.image ? image : elabel, args);
        if (status != s.status) {
            return status == 0 ? -1 : status;
        }
    }
    return 0;
}

double ms(uint64_t ns)
{
    return static_cast<double>(ns) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s ELABEL SIM_LIBRARY_DIR [ELABEL_IMAGE]\n", argv[0]);
        return 2;
    }
    if (!bench_private_mounts()) {
        std::fprintf(stderr, "needs root for a private /run and record directory: %s\n",
                     std::strerror(errno));
        return 2;
    }
    char dir[] = "/tmp/bench-bus-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string image = std::string(dir) + "/eeprom.bin";
    const std::string stats = std::string(dir) + "/stats";
    setenv("LD_LIBRARY_PATH", argv[2], 1);
    setenv("QUELLIX_SIM_IMAGE", image.c_str(), 1);
    setenv("QUELLIX_SIM_STATS", stats.c_str(), 1);

    const char *image_tool = argc == 4 ? argv[3] : nullptr;
    const std::vector<scenario> scenarios = {
        // A part without a label gets one, and getall says so and fails.
        {"getall (blank device)", false, {{"getall"}}, 255},
        {"getall", false, {{"getall"}}},
        {"set 0x30 ACME", false, {{"set", "0x30", "ACME"}}},
        {"get 30", false, {{"get", "30"}}}, // after the set: an empty item is not printed
        {"elabel-image set, 1 item", true, {{"set", "30=ACME"}}},
        {"elabel-image set, 5 items", true,
         {{"set", "30=ACME", "31=M1", "32=PN-1", "33=V1", "34=SN-1"}}},
        {"5 elabel set runs, 1 item each", false,
         {{"set", "0x30", "ACME"}, {"set", "0x31", "M1"}, {"set", "0x32", "PN-1"},
          {"set", "0x33", "V1"}, {"set", "0x34", "SN-1"}}},
    };
    struct path {
        const char *label;
        const char *driver;
        const char *driver_page;
    };
    const path paths[] = {{"i2c-dev", "none", "1"},
                          {"nvmem, no page size", "at24", "1"},
                          {"nvmem, 32-byte pages", "at24", "32"}};
    std::printf("| command | path | clock | calls (r/w) | bus time | of which read-back | transactions "
                "| bytes | page writes | polls | physical bound | ratio |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    int result = 0;
    for (size_t run = 0; run < 2 * std::size(paths); ++run) {
        const path &via = paths[run / 2];
        const char *hz = run % 2 == 0 ? "100000" : "400000";
        const long khz = std::strtol(hz, nullptr, 10) / 1000;
        setenv("QUELLIX_SIM_DRIVER", via.driver, 1);
        setenv("QUELLIX_SIM_DRIVER_PAGE", via.driver_page, 1);
        setenv("QUELLIX_SIM_BUS_HZ", hz, 1);
        unlink(image.c_str());
        for (const scenario &s : scenarios) {
            if (s.image && image_tool == nullptr) {
                continue;
            }
            unlink(stats.c_str());
            const int status = run_scenario(s, argv[1], image_tool);
            totals t{};
            if (status != 0 || !read_totals(stats, &t) || t.failed != 0 || t.bound_ns == 0) {
                std::fprintf(stderr, "%s, %s, at %s Hz: status %d, %" PRIu32 " failed calls\n",
                             s.label, via.label, hz, status, t.failed);
                result = 1;
                continue;
            }
            const double ratio = static_cast<double>(t.elapsed_ns) / static_cast<double>(t.bound_ns);
            std::printf("| %s | %s | %ld kHz | %" PRIu32 "/%" PRIu32 " | %.2f ms | %.2f ms | %" PRIu64
                        " | %" PRIu64 " | %" PRIu64 " | %" PRIu64 " | %.2f ms | %.4f |\n",
                        s.label, via.label, khz, t.reads, t.writes, ms(t.elapsed_ns), ms(t.read_back_ns),
                        t.transactions, t.bytes, t.page_writes, t.polls, ms(t.bound_ns), ratio);
            // The driver of the nvmem path waits for its own write cycles.
            if (ratio > TARGET_RATIO && std::strcmp(via.driver, "none") == 0) {
                result = 1;
            }
        }
    }
    unlink(stats.c_str());
    unlink(image.c_str());
    rmdir(dir);
    std::printf("\ntarget: every i2c-dev ratio at most %.2f: %s\n", TARGET_RATIO,
                result == 0 ? "met" : "NOT met");
    return result;
}
