// Runs a fuzz target over every file of the corpus directories given, without
// libFuzzer: the corpus becomes a regression test in every build, the cross
// build under emulation included. A failed check aborts with the file named.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

bool read_file(const std::string &path, std::vector<uint8_t> *out)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    out->clear();
    uint8_t chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        out->insert(out->end(), chunk, chunk + n);
    }
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// Replays one directory; returns the number of inputs run, or -1.
int replay_dir(const std::string &dir_path)
{
    DIR *dir = opendir(dir_path.c_str());
    if (dir == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", dir_path.c_str());
        return -1;
    }
    int count = 0;
    std::vector<uint8_t> data;
    for (const dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string path = dir_path + "/" + entry->d_name;
        if (!read_file(path, &data)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            count = -1;
            break;
        }
        std::fprintf(stderr, "%s\n", path.c_str());
        LLVMFuzzerTestOneInput(data.data(), data.size());
        ++count;
    }
    closedir(dir);
    return count;
}

} // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize(&argc, &argv) != 0) {
        return 1;
    }
    int total = 0;
    for (int i = 1; i < argc; ++i) {
        const int n = replay_dir(argv[i]);
        if (n < 0) {
            return 1;
        }
        total += n;
    }
    std::fprintf(stderr, "%d inputs replayed\n", total);
    return total > 0 ? 0 : 1;
}
