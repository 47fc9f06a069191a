#include <iterator>
#include <algorithm>
#include <dirent.h>
#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>


const char *const LOCK_FILE = "/run/elabel_lock_flag";
const char *const RECORD_FILE = ELABEL_RECORD_DIR "/pending-label";

const char *const USAGE =
    " Usage:\r\n\n"
    " getall                                print all elabel info\r\n\n"
    " get [id]                              get a elabel\r\n"
    " set [id] [data]                       set a elabel and update it to the flash.\r\n\n";

namespace {

struct item_row {
    uint8_t id;
    uint16_t capacity;
    size_t offset;
};

// The label layout, written out independently of the program's own table.
const item_row layout[] = {
    {0x10, 4, 4},      {0x11, 68, 12},    {0x12, 68, 84},    {0x20, 68, 156},
    {0x21, 68, 228},   {0x22, 68, 300},   {0x23, 68, 372},   {0x24, 68, 444},
    {0x25, 68, 516},   {0x30, 68, 588},   {0x31, 68, 660},   {0x32, 68, 732},
    {0x33, 68, 804},   {0x34, 68, 876},   {0x35, 68, 948},   {0x36, 68, 1020},
    {0x60, 68, 1092},  {0x61, 68, 1164},  {0x62, 68, 1236},  {0x63, 68, 1308},
    {0x64, 496, 1380}, {0x65, 48, 1880},  {0x66, 48, 1932},  {0x67, 48, 1984},
    {0x68, 48, 2036},  {0x50, 268, 2088},
};

const item_row &row_of(uint8_t id)
{
    for (const auto &row : layout) {
        if (row.id == id) {
            return row;
        }
    }
    ADD_FAILURE() << "no item " << int(id);
    return layout[0];
}

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::vector<logged> parse_log(const std::string &raw)
{
    std::vector<logged> out;
    size_t at = 0;
    while (at < raw.size()) {
        const size_t eol = raw.find('\n', at);
        if (eol == std::string::npos) {
            break;
        }
        int priority = 0;
        size_t len = 0;
        if (std::sscanf(raw.c_str() + at, "%d %zu", &priority, &len) != 2 ||
            eol + 1 + len > raw.size()) {
            ADD_FAILURE() << "bad log record";
            break;
        }
        logged entry{priority, raw.substr(eol + 1, len), "", ""};
        const size_t close = entry.text.find("]: ");
        const size_t second_comma = entry.text.find(", ", entry.text.find(", ") + 2);
        if (entry.text.rfind("[", 0) == 0 && close != std::string::npos &&
            second_comma < close) {
            entry.func = entry.text.substr(second_comma + 2, close - second_comma - 2);
            entry.message = entry.text.substr(close + 3);
        }
        out.push_back(entry);
        at = eol + 1 + len + 1;
    }
    return out;
}

// The directory that holds the record directory (/var/lib for /var/lib/elabel).
std::string record_parent()
{
    const std::string dir = ELABEL_RECORD_DIR;
    const size_t slash = dir.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : dir.substr(0, slash);
}

bool write_text(const char *path, const std::string &text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Root may make a mount namespace; another user first makes a user namespace
// in which it is root (where the kernel lets it).
bool own_mount_namespace()
{
    if (geteuid() == 0) {
        return unshare(CLONE_NEWNS) == 0;
    }
    const std::string uid = std::to_string(geteuid());
    const std::string gid = std::to_string(getegid());
    return unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
           write_text("/proc/self/setgroups", "deny") &&
           write_text("/proc/self/uid_map", "0 " + uid + " 1") &&
           write_text("/proc/self/gid_map", "0 " + gid + " 1");
}

// A private /run (and so a private lock file) and a private parent of the
// pending-write record's directory.
bool isolate_run_dir()
{
    if (!own_mount_namespace()) {
        return false;
    }
    const std::string parent = record_parent();
    if (parent == "/") {
        ADD_FAILURE() << "the record directory's parent is /: cannot make it private";
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("elabel-test", "/run", "tmpfs", 0, "mode=0755") != 0 ||
        mount("elabel-test", parent.c_str(), "tmpfs", 0, "mode=0755") != 0) {
        ADD_FAILURE() << "could not mount a private /run and " << parent << ": "
                      << std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<std::string> split_words(const char *text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

} // namespace

std::vector<std::string> run_result::messages() const
{
    std::vector<std::string> out;
    for (const auto &entry : log) {
        out.push_back(entry.func + "|" + entry.message);
    }
    return out;
}

void E2eTest::SetUp()
{
    // The tool writes its lock file and its pending-write record; neither may be the host's.
    if (!isolate_run_dir()) {
        GTEST_SKIP() << "needs root, or user namespaces, for a private /run and "
                     << record_parent();
    }
    char dir[] = "/tmp/elabel-e2e-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    image_path_ = dir_ + "/eeprom.bin";
}

void E2eTest::TearDown()
{
    if (!dir_.empty()) {
        const std::string cmd = "rm -rf '" + dir_ + "'";
        (void)!std::system(cmd.c_str());
    }
}

int E2eTest::start(const std::vector<std::string> &args,
                   const std::map<std::string, std::string> &env)
{
    const std::string log_path = dir_ + "/log." + std::to_string(++runs_);
    const std::string err_path = capture_err_ ? dir_ + "/err." + std::to_string(runs_) : "";
    std::map<std::string, std::string> guest = {
        {"LD_LIBRARY_PATH", ELABEL_SIM_DIR},
        {"LD_PRELOAD", ELABEL_SYSLOG_SHIM},
        {"ELABEL_TEST_SYSLOG", log_path},
        {"QUELLIX_SIM_IMAGE", image_path_},
    };
    for (const auto &[name, value] : env) {
        guest[name] = value;
    }

    // ELABEL_TEST_EMULATOR runs the binary under a user-mode emulator (for a
    // cross build); the variables meant for the program go through its -E.
    std::vector<std::string> argv;
    const char *emulator = std::getenv("ELABEL_TEST_EMULATOR");
    if (emulator != nullptr && *emulator != '\0') {
        argv = split_words(emulator);
        for (const auto &[name, value] : guest) {
            argv.push_back("-E");
            argv.push_back(name + "=" + value);
        }
    }
    argv.push_back(program_.empty() ? ELABEL_BIN : program_);
    argv.insert(argv.end(), args.begin(), args.end());

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        if (!stdout_path_.empty()) {
            dup2(open(stdout_path_.c_str(), O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
        }
        if (!err_path.empty()) {
            dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600),
                 STDERR_FILENO);
        }
        const int null_fd = open(stdin_path_.empty() ? "/dev/null" : stdin_path_.c_str(), O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        if (run_as_ >= 0 && (setgroups(0, nullptr) != 0 || setgid(run_as_) != 0 ||
                             setuid(run_as_) != 0)) {
            _exit(126);
        }
        if (emulator == nullptr || *emulator == '\0') {
            for (const auto &[name, value] : guest) {
                setenv(name.c_str(), value.c_str(), 1);
            }
        }
        // The sanitizer runtime must not object to the preloaded log shim.
        const char *asan = std::getenv("ASAN_OPTIONS");
        const std::string asan_options =
            std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
        std::vector<char *> cargv;
        for (auto &arg : argv) {
            cargv.push_back(arg.data());
        }
        cargv.push_back(nullptr);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    children_[pid] = child{pipe_fds[0], log_path, err_path};
    return pid;
}

run_result E2eTest::finish(int pid)
{
    run_result result;
    const auto found = children_.find(pid);
    if (found == children_.end()) {
        ADD_FAILURE() << "no such child";
        return result;
    }
    char buf[4096];
    for (ssize_t n; (n = read(found->second.out_fd, buf, sizeof(buf))) > 0;) {
        result.out.append(buf, static_cast<size_t>(n));
    }
    close(found->second.out_fd);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    result.log = parse_log(read_file(found->second.log_path));
    if (!found->second.err_path.empty()) {
        result.err = read_file(found->second.err_path);
    }
    children_.erase(found);
    return result;
}

run_result E2eTest::run(const std::vector<std::string> &args,
                        const std::map<std::string, std::string> &env)
{
    return finish(start(args, env));
}

std::vector<uint8_t> E2eTest::device() const
{
    const std::string bytes = read_file(image_path_);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void E2eTest::put_device(const std::vector<uint8_t> &bytes)
{
    std::ofstream out(image_path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> E2eTest::label() const
{
    const auto all = device();
    if (all.size() < LABEL_AT + LABEL_LEN) {
        ADD_FAILURE() << "device image too short: " << all.size();
        return {};
    }
    return std::vector<uint8_t>(all.begin() + LABEL_AT, all.begin() + LABEL_AT + LABEL_LEN);
}

void E2eTest::put_label(const std::vector<uint8_t> &image)
{
    std::vector<uint8_t> all(SIM_SIZE, 0xFF);
    std::copy(image.begin(), image.end(), all.begin() + LABEL_AT);
    put_device(all);
}

bool can_run_as_other_user()
{
    std::ifstream map("/proc/self/uid_map");  // the whole range: the host's root
    unsigned inside = 0, outside = 0, count = 0;
    return map >> inside >> outside >> count && inside == 0 && outside == 0 && count > 65534;
}

uint16_t xmodem_crc(const uint8_t *data, size_t len)
{
    unsigned crc = 0;
    for (size_t i = 0; i < len; ++i) {
        crc ^= static_cast<unsigned>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        }
        crc &= 0xFFFFu;
    }
    return static_cast<uint16_t>(crc);
}

std::vector<uint8_t> make_label(const std::vector<std::pair<uint8_t, std::string>> &texts)
{
    std::vector<uint8_t> image(LABEL_LEN, 0);
    const uint8_t magic[] = {0x42, 0x41, 0x4C, 0x45};
    std::copy(magic, magic + 4, image.begin());
    for (const auto &[id, text] : texts) {
        const item_row &row = row_of(id);
        std::copy(text.begin(), text.end(), image.begin() + row.offset + 4);
        const uint16_t crc = xmodem_crc(image.data() + row.offset + 4, text.size());
        image[row.offset] = static_cast<uint8_t>(crc);
        image[row.offset + 1] = static_cast<uint8_t>(crc >> 8);
        image[row.offset + 2] = static_cast<uint8_t>(text.size());
        image[row.offset + 3] = static_cast<uint8_t>(text.size() >> 8);
    }
    return image;
}

std::string label_problems(const std::vector<uint8_t> &image)
{
    if (image.size() != LABEL_LEN) {
        return "wrong size";
    }
    if (image[0] != 0x42 || image[1] != 0x41 || image[2] != 0x4C || image[3] != 0x45) {
        return "wrong magic";
    }
    for (const auto &row : layout) {
        const uint8_t *block = image.data() + row.offset;
        const uint16_t len = le16(block + 2);
        if (len > row.capacity) {
            return "item " + std::to_string(row.id) + " too long";
        }
        if (le16(block) != xmodem_crc(block + 4, len)) {
            return "item " + std::to_string(row.id) + " bad checksum";
        }
    }
    return "";
}

size_t item_capacity(uint8_t id)
{
    return row_of(id).capacity;
}

std::string item_text(const std::vector<uint8_t> &image, uint8_t id)
{
    const item_row &row = row_of(id);
    const uint8_t *block = image.data() + row.offset;
    const uint16_t len = le16(block + 2);
    if (len > row.capacity) {
        return "<bad length>";
    }
    return std::string(reinterpret_cast<const char *>(block + 4), len);
}

lock_holder::lock_holder()
{
    fd_ = open(LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fd_ >= 0 && fcntl(fd_, F_SETLK, &lock) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

lock_holder::~lock_holder()
{
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::map<std::string, std::vector<uint8_t>> record_dir_files(const std::string &prefix)
{
    const std::string record = RECORD_FILE;
    const std::string dir = record.substr(0, record.find_last_of('/'));
    std::map<std::string, std::vector<uint8_t>> files;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0 && entry->d_type == DT_REG) {
                std::ifstream in(dir + "/" + name, std::ios::binary);
                files[name].assign(std::istreambuf_iterator<char>(in), {});
            }
        }
        closedir(d);
    }
    return files;
}

std::vector<std::vector<uint8_t>> kept_labels()
{
    std::vector<std::vector<uint8_t>> labels;
    for (auto &[name, content] : record_dir_files("kept-label-")) {
        labels.push_back(std::move(content));
    }
    return labels;
}
