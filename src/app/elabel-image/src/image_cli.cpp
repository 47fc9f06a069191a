#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image_tool.h"

namespace {

enum option_bit : unsigned {
    OPT_JSON = 1u << 0,
    OPT_OFFSET = 1u << 1,
    OPT_OUTPUT = 1u << 2,
    OPT_FROM = 1u << 3,
    OPT_EEPROM_SIZE = 1u << 4,
};

struct command {
    const char *name;
    unsigned options;
    int min_args;
    int max_args;
    int (*run)(const image_options &opt);
};

constexpr int MANY = 1 << 20;

constexpr command commands[] = {
    {"show", OPT_JSON | OPT_OFFSET, 1, 1, image_show_run},
    {"check", OPT_OFFSET, 1, 1, image_check_run},
    {"build", OPT_OUTPUT | OPT_FROM | OPT_OFFSET | OPT_EEPROM_SIZE, 0, MANY, image_build_run},
    {"dump", OPT_OUTPUT, 0, 0, image_dump_run},
    {"program", OPT_OFFSET, 1, 1, image_program_run},
};

const char *const USAGE =
    "Usage: elabel-image COMMAND [OPTION]... [ARG]...\n"
    "Shows, checks and builds electronic label files; dumps and programs the board's label.\n"
    "\n"
    "  show [--json] [--offset N] FILE    decode a label file (bare label or EEPROM image)\n"
    "  check [--offset N] FILE            exit 0 if the label is valid, 1 if not\n"
    "  build -o OUT [--from FILE] [--offset N] [--eeprom-size N] ID=TEXT...\n"
    "                                     write a valid label file\n"
    "  dump -o OUT                        save the board's label region as stored\n"
    "  program [--offset N] FILE          write a label file to the board and verify it\n"
    "\n"
    "  -o, --output OUT     file to write (atomically)\n"
    "      --from FILE      start from this label file; its other bytes are kept\n"
    "      --offset N       the label's byte offset in an EEPROM image (default 512)\n"
    "      --eeprom-size N  build a whole-EEPROM image of N bytes (0xFF around the label)\n"
    "      --json           show as one JSON document\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "\n"
    "Exit status: 0 success or valid; 1 invalid label; 2 usage or file error;\n"
    "3 the board's label could not be read or written; 4 read-back differs.\n"
    "See elabel-image(1).\n";

enum long_only : int { LONG_JSON = 256, LONG_OFFSET, LONG_FROM, LONG_EEPROM_SIZE };

constexpr option long_options[] = {
    {"json", no_argument, nullptr, LONG_JSON},
    {"offset", required_argument, nullptr, LONG_OFFSET},
    {"output", required_argument, nullptr, 'o'},
    {"from", required_argument, nullptr, LONG_FROM},
    {"eeprom-size", required_argument, nullptr, LONG_EEPROM_SIZE},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// A byte count in decimal or 0x-prefixed hexadecimal, at most IMAGE_FILE_MAX.
bool parse_count(const char *text, long *out)
{
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *digits = hex ? text + 2 : text;
    if (std::isxdigit(static_cast<unsigned char>(*digits)) == 0) {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(digits, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || value > IMAGE_FILE_MAX) {
        return false;
    }
    *out = static_cast<long>(value);
    return true;
}

int usage_hint()
{
    std::fputs("Try 'elabel-image --help'.\n", stderr);
    return IMAGE_USAGE;
}

int usage_error(const char *what, const char *detail)
{
    image_error("%s%s", what, detail);
    return usage_hint();
}

const char *option_name(int code)
{
    for (const auto &o : long_options) {
        if (o.val == code) {
            return o.name;
        }
    }
    return "?";
}

unsigned option_bit_of(int code)
{
    switch (code) {
    case LONG_JSON:
        return OPT_JSON;
    case LONG_OFFSET:
        return OPT_OFFSET;
    case 'o':
        return OPT_OUTPUT;
    case LONG_FROM:
        return OPT_FROM;
    case LONG_EEPROM_SIZE:
        return OPT_EEPROM_SIZE;
    default:
        return 0;
    }
}

// Takes one option into `opt`: IMAGE_OK, or IMAGE_USAGE after a message.
int take_option(int code, const char *arg, image_options *opt)
{
    switch (code) {
    case LONG_JSON:
        opt->json = true;
        return IMAGE_OK;
    case 'o':
        opt->output = arg;
        return IMAGE_OK;
    case LONG_FROM:
        opt->from = arg;
        return IMAGE_OK;
    case LONG_OFFSET:
        return parse_count(arg, &opt->offset) ? IMAGE_OK : usage_error("invalid offset: ", arg);
    case LONG_EEPROM_SIZE:
        return parse_count(arg, &opt->eeprom_size) ? IMAGE_OK
                                                   : usage_error("invalid EEPROM size: ", arg);
    default:
        return IMAGE_USAGE;
    }
}

const command *find_command(const char *name)
{
    for (const auto &cmd : commands) {
        if (std::strcmp(cmd.name, name) == 0) {
            return &cmd;
        }
    }
    return nullptr;
}

int print_version()
{
    std::printf("elabel-image %s\n", ELABEL_VERSION);
    return IMAGE_OK;
}

int print_help()
{
    std::fputs(USAGE, stdout);
    return IMAGE_OK;
}

// Parses argv (argv[0] the command's name) into `opt`; -1 to go on, else the exit status.
int parse_options(const command &cmd, int argc, char *argv[], image_options *opt)
{
    opterr = 0;
    optind = 0;  // a full reset: glibc then starts afresh
    for (;;) {
        const int code = getopt_long(argc, argv, ":o:hV", long_options, nullptr);
        if (code == -1) {
            break;
        }
        if (code == 'h') {
            return print_help();
        }
        if (code == 'V') {
            return print_version();
        }
        if (code == '?') {
            return usage_error("unknown option: ", argv[optind - 1]);
        }
        if (code == ':') {
            return usage_error("option needs a value: ", argv[optind - 1]);
        }
        if ((cmd.options & option_bit_of(code)) == 0) {
            image_error("%s: option --%s does not apply", cmd.name, option_name(code));
            return usage_hint();
        }
        if (take_option(code, optarg, opt) != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    opt->args = argv + optind;
    opt->nargs = argc - optind;
    if (opt->nargs < cmd.min_args || opt->nargs > cmd.max_args) {
        return usage_error(cmd.name, cmd.min_args > 0 ? ": one FILE expected" : ": no operand expected");
    }
    return -1;
}

} // namespace

int image_main(int argc, char *argv[])
{
    if (argc < 2) {
        return usage_error("no command", "");
    }
    const char *name = argv[1];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
        return print_help();
    }
    if (std::strcmp(name, "--version") == 0 || std::strcmp(name, "-V") == 0) {
        return print_version();
    }
    const command *cmd = find_command(name);
    if (cmd == nullptr) {
        return usage_error("unknown command: ", name);
    }
    image_options opt{nullptr, nullptr, -1, -1, false, nullptr, 0};
    const int parsed = parse_options(*cmd, argc - 1, argv + 1, &opt);
    if (parsed >= 0) {
        return parsed;
    }
    return cmd->run(opt);
}
