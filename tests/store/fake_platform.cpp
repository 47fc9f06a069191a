#include <dirent.h>
#include "fake_platform.h"

#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "elabel_platform.h"

namespace fake {

state g;

namespace {

constexpr int FAKE_FD = 42;

void check_fixed_values(const char *what, const char *device, int8_t address, uint64_t offset,
                        uint32_t length)
{
    if (std::strcmp(device, ELABEL_I2C_DEV) != 0 || address != -96 ||
        offset != ELABEL_FLASH_OFFSET || length != ELABEL_DATA_LEN) {
        g.bad_calls.push_back(what);
    }
}

int32_t i2c_read(const char *device, int8_t address, uint64_t offset, uint8_t *buffer,
                 uint32_t length)
{
    ++g.reads;
    check_fixed_values("read", device, address, offset, length);
    if (buffer == nullptr) {
        return -EINVAL;
    }
    if (g.fail_every_read || g.fail_reads.count(g.reads) != 0) {
        return -EIO;
    }
    std::memcpy(buffer, g.eeprom.data() + offset, length);
    return 0;
}

bool termination_signals_held()
{
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
        if (sigismember(&mask, sig) != 1) {
            return false;
        }
    }
    return true;
}

void cut_now()
{
    const uint8_t *at = g.eeprom.data();
    size_t left = g.eeprom.size();
    while (left > 0) {
        const ssize_t n = write(g.cut_fd, at, left);
        if (n <= 0) {
            _exit(2);
        }
        at += n;
        left -= static_cast<size_t>(n);
    }
    _exit(0);
}

// Writes page by page, so that a cut can fall between any two pages.
void write_pages(uint64_t offset, const uint8_t *buffer, uint32_t length)
{
    constexpr uint64_t PAGE = 32;
    uint32_t done = 0;
    while (done < length) {
        if (g.pages == g.cut_after_pages) {
            cut_now();
        }
        const uint64_t at = offset + done;
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(PAGE - at % PAGE, length - done));
        for (uint32_t i = 0; i < n && !g.ignore_writes; ++i) {
            if (static_cast<int>(at + i) != g.stuck_at) {
                g.eeprom[at + i] = buffer[done + i];
            }
        }
        done += n;
        ++g.pages;
    }
    if (g.pages == g.cut_after_pages) {
        cut_now();
    }
}

int32_t i2c_write(const char *device, int8_t address, uint64_t offset, uint8_t *buffer,
                  uint32_t length)
{
    ++g.writes;
    g.writes_held_signals.push_back(termination_signals_held());
    pthread_sigmask(SIG_BLOCK, nullptr, &g.last_write_mask);
    check_fixed_values("write", device, address, offset, length);
    if (g.fail_writes.count(g.writes) != 0) {
        return -EIO;
    }
    write_pages(offset, buffer, length);
    g.written.push_back({offset, std::vector<uint8_t>(buffer, buffer + length)});
    return 0;
}

errno_t copy(void *dest, size_t dest_max, const void *src, size_t count)
{
    return ++g.copies == g.fail_copy_at ? EINVAL : memcpy_s(dest, dest_max, src, count);
}

errno_t fill(void *dest, size_t dest_max, int c, size_t count)
{
    return ++g.fills == g.fail_fill_at ? EINVAL : memset_s(dest, dest_max, c, count);
}

void *alloc(size_t size)
{
    return ++g.allocs == g.fail_alloc_at ? nullptr : std::malloc(size);
}

void dealloc(void *block)
{
    ++g.frees;
    std::free(block);
}

int lock_open(const char *path, mode_t mode)
{
    g.lock_path = path;
    g.lock_mode = mode;
    if (g.lock_open_fails) {
        errno = EACCES;
        return -1;
    }
    ++g.lock_opens;
    return FAKE_FD;
}

int lock_file(int fd, int cmd, struct flock *lock)
{
    if (fd != FAKE_FD || cmd != F_SETLK || lock->l_whence != SEEK_SET || lock->l_start != 0 ||
        lock->l_len != 0) {
        g.bad_calls.push_back("lock");
    }
    if (lock->l_type == F_WRLCK) {
        ++g.lock_requests;
        if (g.lock_busy) {
            errno = EAGAIN;
            return -1;
        }
    }
    return 0;
}

int lock_close()
{
    ++g.lock_closes;
    return 0;
}

int sleep_us(useconds_t usec)
{
    g.sleeps.push_back(usec);
    return 0;
}

// Splits "[file, line, func]: message" back into its parts.
void log_line(int priority, const char *line)
{
    log_entry entry{priority, "", 0, "", line};
    char file[256] = {};
    char func[128] = {};
    int consumed = 0;
    if (std::sscanf(line, "[%255[^,], %d, %127[^]]]: %n", file, &entry.line, func, &consumed) == 3 &&
        consumed > 0) {
        entry.file = file;
        entry.func = func;
        entry.message = line + consumed;
    }
    g.log.push_back(entry);
}

// The record's file calls, through the real ones unless a fault is set.
bool file_fault(const char *call)
{
    g.file_calls.emplace_back(call);
    const auto fault = g.file_faults.find(call);
    if (fault == g.file_faults.end()) {
        return false;
    }
    errno = fault->second;
    return true;
}

// The lock file is the fake's own; every other file is real.
int file_open(const char *path, int flags, mode_t mode)
{
    if (std::strcmp(path, ELABEL_LOCK_FILE) == 0) {
        return lock_open(path, mode);
    }
    return file_fault("open") ? -1 : open(path, flags, mode);
}

ssize_t file_read(int fd, void *buffer, size_t count)
{
    return file_fault("read") ? -1 : read(fd, buffer, count);
}

ssize_t file_write(int fd, const void *buffer, size_t count)
{
    return file_fault("write") ? -1 : write(fd, buffer, count);
}

int file_sync(int fd)
{
    // "fsync directory" fails the syncs of directories alone.
    struct stat st {};
    const auto dir_fault = g.file_faults.find("fsync directory");
    if (dir_fault != g.file_faults.end() && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        g.file_calls.emplace_back("fsync");
        errno = dir_fault->second;
        return -1;
    }
    return file_fault("fsync") ? -1 : fsync(fd);
}

int file_close(int fd)
{
    if (fd == FAKE_FD) {
        return lock_close();
    }
    const bool fail = file_fault("close");
    close(fd);
    return fail ? -1 : 0;
}

int file_rename(const char *from, const char *to)
{
    return file_fault("rename") ? -1 : std::rename(from, to);
}

int file_link(const char *from, const char *to)
{
    return file_fault("link") ? -1 : link(from, to);
}

time_t clock_now(time_t *now)
{
    if (now != nullptr) {
        *now = g.now;
    }
    return g.now;
}

int file_unlink(const char *path)
{
    return file_fault("unlink") ? -1 : unlink(path);
}

int file_mkdir(const char *path, mode_t mode)
{
    return file_fault("mkdir") ? -1 : mkdir(path, mode);
}

int file_lstat(const char *path, struct stat *st)
{
    return file_fault("lstat") ? -1 : lstat(path, st);
}

int file_fchmod(int fd, mode_t mode)
{
    return file_fault("fchmod") ? -1 : fchmod(fd, mode);
}

int file_fchown(int fd, uid_t owner, gid_t group)
{
    return file_fault("fchown") ? -1 : fchown(fd, owner, group);
}

int file_fstat(int fd, struct stat *st)
{
    return file_fault("fstat") ? -1 : fstat(fd, st);
}

} // namespace

void install()
{
    uninstall();
    g = state{};
    char dir[] = "/tmp/elabel-store-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    }
    g.record_dir = std::string(dir) + "/records";
    elabel_platform = elabel_platform_ops{
        {i2c_read, i2c_write},
        {copy, fill, alloc, dealloc},
        {file_open, lock_file, file_read, file_write, file_sync, file_close, file_rename,
         file_link, file_unlink, file_mkdir, opendir, readdir, closedir, file_lstat, file_fchmod,
         file_fchown, file_fstat},
        g.record_dir.c_str(),
        nullptr,
        sleep_us,
        clock_now,
        log_line};
}

void uninstall()
{
    if (g.record_dir.empty()) {
        return;
    }
    const std::string parent = g.record_dir.substr(0, g.record_dir.rfind('/'));
    if (parent.rfind("/tmp/elabel-store-", 0) == 0) {
        const std::string cmd = "rm -rf '" + parent + "'";
        (void)!std::system(cmd.c_str());
    }
}

std::vector<uint8_t> label()
{
    const auto begin = g.eeprom.begin() + ELABEL_FLASH_OFFSET;
    return std::vector<uint8_t>(begin, begin + ELABEL_DATA_LEN);
}

void put_label(const std::vector<uint8_t> &image)
{
    std::copy(image.begin(), image.end(), g.eeprom.begin() + ELABEL_FLASH_OFFSET);
}

const elabel_item_desc &item_of(uint8_t id)
{
    const elabel_item_desc *item = driver_elabel_find_item(id);
    if (item == nullptr) {
        ADD_FAILURE() << "no item " << int(id);
        return elabel_item_table[0];
    }
    return *item;
}

void put_le16(std::vector<uint8_t> &image, size_t at, uint16_t v)
{
    image[at] = static_cast<uint8_t>(v);
    image[at + 1] = static_cast<uint8_t>(v >> 8);
}

std::vector<uint8_t> make_image(const std::vector<std::pair<uint8_t, std::string>> &texts)
{
    std::vector<uint8_t> image(ELABEL_DATA_LEN, 0);
    image[0] = 0x42;
    image[1] = 0x41;
    image[2] = 0x4C;
    image[3] = 0x45;
    for (const auto &[id, text] : texts) {
        const elabel_item_desc &item = item_of(id);
        uint8_t *field = image.data() + item.offset + ELABEL_ITEM_HEAD_LEN;
        std::memcpy(field, text.data(), text.size());
        put_le16(image, item.offset + 2, static_cast<uint16_t>(text.size()));
        put_le16(image, item.offset,
                 elabel_crc16(field, static_cast<int32_t>(text.size())));
    }
    return image;
}

uint16_t crc_of(const std::vector<uint8_t> &image, uint8_t id)
{
    const size_t at = item_of(id).offset;
    return static_cast<uint16_t>(image[at] | image[at + 1] << 8);
}

uint16_t len_of(const std::vector<uint8_t> &image, uint8_t id)
{
    const size_t at = item_of(id).offset + 2;
    return static_cast<uint16_t>(image[at] | image[at + 1] << 8);
}

std::string text_of(const std::vector<uint8_t> &image, uint8_t id)
{
    const elabel_item_desc &item = item_of(id);
    const char *field = reinterpret_cast<const char *>(image.data() + item.offset + 4);
    return std::string(field, strnlen(field, item.max_len));
}

void run_cut_short(int pages, void (*body)())
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t pid = fork();
    ASSERT_LE(0, pid);
    if (pid == 0) {
        close(fds[0]);
        g.cut_fd = fds[1];
        g.cut_after_pages = pages;
        g.pages = 0;
        body();
        cut_now();
    }
    close(fds[1]);
    std::vector<uint8_t> eeprom(EEPROM_SIZE);
    size_t got = 0;
    for (ssize_t n; got < eeprom.size() &&
                    (n = read(fds[0], eeprom.data() + got, eeprom.size() - got)) > 0;) {
        got += static_cast<size_t>(n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    ASSERT_EQ(EEPROM_SIZE, got);
    g.eeprom = eeprom;
}

std::string record_path()
{
    return g.record_dir + "/pending-label";
}

bool record_exists()
{
    return access(record_path().c_str(), F_OK) == 0;
}

std::vector<std::string> files_like(const std::string &prefix)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(g.record_dir.c_str())) {
        while (const dirent *entry = readdir(dir)) {
            if (std::string(entry->d_name).rfind(prefix, 0) == 0) {
                names.emplace_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (const auto &entry : g.log) {
        out.push_back(entry.func + "|" + entry.message);
    }
    return out;
}

std::vector<uint8_t> current_image()
{
    if (elabel_data == nullptr) {
        return {};
    }
    return std::vector<uint8_t>(elabel_data, elabel_data + ELABEL_DATA_LEN);
}

} // namespace fake

void StoreTest::SetUp()
{
    driver_elabel_release();
    fake::install();
}

void StoreTest::TearDown()
{
    driver_elabel_release();
    elabel_platform_reset();
    fake::uninstall();
}
