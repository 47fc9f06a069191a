// Interrupted write-back benchmark: what a `set` cut short leaves of the label.
//
// A label with every item filled is set up on the simulated EEPROM; `set 0x30`
// is cut after each of its page writes by SIGKILL (as a power cut would cut it),
// SIGINT, SIGTERM and SIGHUP; then `getall` runs, as the next run on the board
// would. An item is lost when what the device then holds for it is neither its
// old value nor the value the set wrote. A second binary (an earlier build) can
// be given to show the same table for it.
//
// Then the cost of the pending-write record: the store's own record calls, timed
// in a directory of the file system that holds the record directory's parent,
// and on a tmpfs for comparison.
//
// Runs as root in a mount namespace of its own: /run and the record directory's
// parent are private tmpfs mounts, so nothing of the host's is touched (the
// timed directory is a fresh one below the build tree).
//
// usage: bench_interrupt ELABEL SIM_LIBRARY_DIR WORK_DIR [EARLIER_ELABEL]
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "elabel_image.h"
#include "elabel_platform.h"
#include "elabel_record.h"
#include "private_mounts.h"

namespace {

constexpr size_t EEPROM_SIZE = 8192;
constexpr int SET_PAGES = 148;
constexpr int RECORD_ROUNDS = 200;

// As the simulator names them.
constexpr const char *SIGNALS[] = {"KILL", "INT", "TERM", "HUP"};

std::string g_image;
std::string g_sim_dir;

struct outcome {
    int lost;
    bool is_old;
    bool is_new;
};

std::vector<uint8_t> label_with(const char *text_0x30)
{
    std::vector<uint8_t> image(ELABEL_DATA_LEN, 0);
    elabel_put_le32(image.data(), ELABEL_MAGIC);
    // Every item filled to its capacity less one, the longest text a set takes.
    for (const elabel_item_desc &item : elabel_item_table) {
        char text[512];
        std::snprintf(text, item.max_len, "item %02x: %s", item.id,
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        const char *value = item.id == 0x30 ? text_0x30 : text;
        const size_t n = std::strlen(value);
        std::memcpy(elabel_item_field(image.data(), item), value, n);
        elabel_item_seal(image.data(), item, static_cast<uint16_t>(n));
    }
    return image;
}

bool write_device(const std::vector<uint8_t> &image)
{
    std::vector<uint8_t> all(EEPROM_SIZE, 0xFF);
    std::copy(image.begin(), image.end(), all.begin() + ELABEL_FLASH_OFFSET);
    FILE *out = std::fopen(g_image.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(all.data(), 1, all.size(), out) == all.size();
    return std::fclose(out) == 0 && ok;
}

std::vector<uint8_t> read_label()
{
    std::vector<uint8_t> all(EEPROM_SIZE);
    FILE *in = std::fopen(g_image.c_str(), "rb");
    if (in == nullptr || std::fread(all.data(), 1, all.size(), in) != all.size()) {
        std::fprintf(stderr, "cannot read %s\n", g_image.c_str());
        std::exit(1);
    }
    std::fclose(in);
    return std::vector<uint8_t>(all.begin() + ELABEL_FLASH_OFFSET,
                                all.begin() + ELABEL_FLASH_OFFSET + ELABEL_DATA_LEN);
}

// Runs the tool with its output thrown away; extra variables for the simulator.
void run_tool(const std::string &elabel, const std::vector<const char *> &args,
              const std::vector<std::string> &env)
{
    std::fflush(stdout);  // or the child would print what is buffered again
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("LD_LIBRARY_PATH", g_sim_dir.c_str(), 1);
        setenv("QUELLIX_SIM_IMAGE", g_image.c_str(), 1);
        for (const std::string &assignment : env) {
            putenv(const_cast<char *>(assignment.c_str()));
        }
        if (std::freopen("/dev/null", "w", stdout) == nullptr) {
            _exit(127);
        }
        std::vector<char *> argv{const_cast<char *>(elabel.c_str())};
        for (const char *arg : args) {
            argv.push_back(const_cast<char *>(arg));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

bool same_item(const uint8_t *a, const uint8_t *b, const elabel_item_desc &item)
{
    return std::memcmp(a + item.offset, b + item.offset, ELABEL_ITEM_HEAD_LEN + item.max_len) ==
           0;
}

outcome cut_once(const std::string &elabel, const char *sig, int pages)
{
    static const std::vector<uint8_t> before = label_with("old-value");
    static const std::vector<uint8_t> wanted = label_with("new-value");
    if (!write_device(before)) {
        std::fprintf(stderr, "cannot write %s\n", g_image.c_str());
        std::exit(1);
    }
    run_tool(elabel, {"set", "0x30", "new-value"},
             {std::string("QUELLIX_SIM_SIGNAL=") + sig,
              "QUELLIX_SIM_SIGNAL_AFTER_PAGES=" + std::to_string(pages)});
    run_tool(elabel, {"getall"}, {});
    const std::vector<uint8_t> after = read_label();
    outcome o{0, after == before, after == wanted};
    for (const elabel_item_desc &item : elabel_item_table) {
        if (!same_item(after.data(), before.data(), item) &&
            !same_item(after.data(), wanted.data(), item)) {
            ++o.lost;
        }
    }
    return o;
}

void cut_table(const char *title, const std::string &elabel)
{
    std::printf("\n%s\n\n", title);
    std::printf("| signal | cuts | label after the next run: new / old / neither | items lost: "
                "mean | worst |\n|---|---|---|---|---|\n");
    for (const char *sig : SIGNALS) {
        int lost = 0;
        int worst = 0;
        int new_label = 0;
        int old_label = 0;
        for (int pages = 1; pages <= SET_PAGES; ++pages) {
            const outcome o = cut_once(elabel, sig, pages);
            lost += o.lost;
            worst = std::max(worst, o.lost);
            new_label += o.is_new ? 1 : 0;
            old_label += o.is_old ? 1 : 0;
        }
        std::printf("| SIG%s | %d | %d / %d / %d | %.1f | %d |\n", sig, SET_PAGES,
                    new_label, old_label, SET_PAGES - new_label - old_label,
                    static_cast<double>(lost) / SET_PAGES, worst);
        std::fflush(stdout);
    }
}

const char *fs_name(const char *dir)
{
    struct statfs fs {};
    if (statfs(dir, &fs) != 0) {
        return "?";
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:
        return "ext2/3/4";
    case 0x01021994:
        return "tmpfs";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x794C7630:
        return "overlayfs";
    default:
        return "other";
    }
}

// Times the store's record calls, as a set makes them: store before the erase,
// remove after the write.
void time_record(const std::string &dir, const char *where)
{
    elabel_platform.record_dir = dir.c_str();
    const std::vector<uint8_t> image = label_with("new-value");
    double total_ms = 0;
    double worst_ms = 0;
    for (int round = 0; round < RECORD_ROUNDS; ++round) {
        const auto start = std::chrono::steady_clock::now();
        if (elabel_record_store(image.data(), image.data(), false) != 0 || elabel_record_remove() != 0) {
            std::fprintf(stderr, "record calls failed in %s\n", dir.c_str());
            std::exit(1);
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        total_ms += took.count();
        worst_ms = std::max(worst_ms, took.count());
    }
    std::printf("| %s (%s) | %d | %.2f ms | %.2f ms |\n", where, fs_name(dir.c_str()),
                RECORD_ROUNDS, total_ms / RECORD_ROUNDS, worst_ms);
}

// Private /run and record directory, and a tmpfs for the simulated EEPROM.
bool private_mounts(const std::string &work)
{
    const std::string scratch = work + "/tmpfs";
    mkdir(scratch.c_str(), 0700);
    return bench_private_mounts() &&
           mount("bench", scratch.c_str(), "tmpfs", 0, "mode=0700") == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s ELABEL SIM_LIBRARY_DIR WORK_DIR [EARLIER_ELABEL]\n",
                     argv[0]);
        return 2;
    }
    const std::string work = argv[3];
    mkdir(work.c_str(), 0700);
    const std::string disk_dir = work + "/records";
    if (!private_mounts(work)) {
        std::fprintf(stderr, "needs root for private /run and record directory: %s\n",
                     std::strerror(errno));
        return 2;
    }
    g_sim_dir = argv[2];
    g_image = work + "/tmpfs/eeprom.bin";

    cut_table("This build", argv[1]);
    if (argc == 5) {
        cut_table("The earlier build", argv[4]);
    }

    std::printf("\nPending-write record per set: %zu bytes written, 3 fsyncs (file, directory "
                "after the rename, directory after the removal)\n\n",
                ELABEL_RECORD_LEN);
    std::printf("| directory | sets | mean | worst |\n|---|---|---|---|\n");
    time_record(disk_dir, "build tree");
    time_record(work + "/tmpfs/records", "tmpfs");
    return 0;
}
