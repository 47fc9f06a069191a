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
    OPT_ITEM = 1u << 5,
    OPT_RAW = 1u << 6,
    OPT_REPLACED = 1u << 7,
    OPT_TEMPLATE = 1u << 8,
    OPT_REQUIRE = 1u << 9,
    OPT_DRY_RUN = 1u << 10,
    OPT_VERBOSE = 1u << 11,
};

struct command {
    const char *name;
    unsigned options;
    unsigned required;
    int min_args;
    int max_args;
    const char *operands;  // what the operands are, for a message
    bool file_operands;    // operands name files ("-" is standard input)
    int (*run)(const image_options &opt);
};

constexpr int MANY = 1 << 20;

constexpr command commands[] = {
    {"show", OPT_JSON | OPT_OFFSET | OPT_ITEM | OPT_RAW | OPT_TEMPLATE, 0, 1, 1, "one FILE or board", true,
     image_show_run},
    {"check", OPT_OFFSET, 0, 1, MANY, "FILE...", true, image_check_run},
    {"diff", OPT_OFFSET, 0, 2, 2, "two labels (FILE or board)", true, image_diff_run},
    {"build", OPT_OUTPUT | OPT_FROM | OPT_OFFSET | OPT_EEPROM_SIZE | OPT_JSON | OPT_REQUIRE,
     OPT_OUTPUT, 0, MANY,
     "ID=TEXT...", false, image_build_run},
    {"dump", OPT_OUTPUT | OPT_VERBOSE, OPT_OUTPUT, 0, 0, "no operand", false, image_dump_run},
    {"program", OPT_OFFSET | OPT_DRY_RUN | OPT_VERBOSE, 0, 1, 1, "one FILE", true, image_program_run},
    {"set", OPT_JSON | OPT_FROM | OPT_DRY_RUN | OPT_VERBOSE, 0, 0, MANY, "ID=TEXT...", false, image_set_run},
    {"recover", OPT_VERBOSE, 0, 0, 0, "no operand", false, image_recover_run},
    {"publish", 0, 0, 0, 0, "no operand", false, image_publish_run},
    {"extract", OPT_OUTPUT | OPT_REPLACED, OPT_OUTPUT, 1, 1, "one RECORD", true,
     image_extract_run},
};

const char *const USAGE =
    "Usage: elabel-image COMMAND [OPTION]... [ARG]...\n"
    "Shows, checks, compares and builds electronic label files; dumps and programs the\n"
    "board's label. FILE - is standard input, OUT - standard output; where a label is\n"
    "read, 'board' is the board's label as stored (./board names a file).\n"
    "\n"
    "  show [--json [--template]] [--offset N] FILE\n"
    "                                     decode a label file (bare label or EEPROM image),\n"
    "                                     or both labels of a pending-write record\n"
    "  show --item ID [--raw] [--offset N] FILE\n"
    "                                     one item; with --raw its stored bytes alone\n"
    "  check [--offset N] FILE...         exit 0 if every label is valid, else 1 (2 unreadable)\n"
    "  diff [--offset N] A B              compare item by item\n"
    "  build -o OUT [--from FILE] [--json FILE] [--require ID,...] [--offset N]\n"
    "        [--eeprom-size N] [ID=TEXT]...\n"
    "                                     write a valid label file\n"
    "  dump -o OUT                        save the board's label region as stored\n"
    "  program [--offset N] FILE          write a label file to the board and verify it\n"
    "  set [--json FILE] [ID=TEXT]...     change items of the board's label in one write-back\n"
    "  set --from FILE ITEM... [ID=TEXT]...\n"
    "                                     the same with the named items' texts from FILE\n"
    "  program|set --dry-run ...          print what would change on the board, write nothing\n"
    "  recover                            finish or set aside an unfinished write-back\n"
    "  publish                            publish the board's label for readers without root\n"
    "  extract [--replaced] -o OUT RECORD write a pending-write record's label as a label file\n"
    "\n"
    "  -o, --output OUT     file to write (a new or a regular file, replaced atomically)\n"
    "      --from FILE      build: start from this label file; its other bytes are kept\n"
    "                       set: take each ITEM's text from this label file\n"
    "      --json FILE      build, set: take the items of a JSON document (show --json's)\n"
    "      --offset N       the label's byte offset in an EEPROM image (default 512)\n"
    "      --eeprom-size N  build a whole-EEPROM image of N bytes, at most 65536\n"
    "      --json           show: one JSON document\n"
    "      --template       show --json: a product template, without the items each board\n"
    "                       has its own of (serial numbers, dates, asset tag)\n"
    "      --require ID,... build: refuse unless each of these items is given as ID=TEXT\n"
    "      --dry-run        program, set: print what would change (exit 0: nothing, 1: changes)\n"
    "      --verbose        program, set, recover, dump: log lines on standard error too\n"
    "      --item ID        show: one item, by hexadecimal id (30, 0x30) or name\n"
    "      --raw            show --item: the item's stored bytes only\n"
    "      --replaced       extract: the label the record's write-back replaced\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "\n"
    "An ID is hexadecimal as elabel takes it (30 and 0x30 are 0x30) or an item name.\n"
    "Exit status: 0 success, valid or same; 1 invalid label or labels differ;\n"
    "2 usage or file error; 3 the board's label could not be read or written;\n"
    "4 read-back differs; 5 the board was read with a write-back pending;\n"
    "recover: 0 nothing pending or finished, 1 set aside or damaged, 2 record unreadable,\n"
    "3 not finished (board or file system). See elabel-image(1).\n";

enum long_only : int {
    LONG_JSON = 256, LONG_OFFSET, LONG_FROM, LONG_EEPROM_SIZE, LONG_ITEM, LONG_RAW, LONG_REPLACED,
    LONG_TEMPLATE, LONG_REQUIRE, LONG_DRY_RUN, LONG_VERBOSE
};

constexpr int OPTION_COUNT = 14;

struct option_table {
    option list[OPTION_COUNT + 1];
};

// --json is a switch for show and takes a FILE for build and set.
constexpr option_table make_options(int json_argument)
{
    return {{
        {"json", json_argument, nullptr, LONG_JSON},
        {"offset", required_argument, nullptr, LONG_OFFSET},
        {"output", required_argument, nullptr, 'o'},
        {"from", required_argument, nullptr, LONG_FROM},
        {"eeprom-size", required_argument, nullptr, LONG_EEPROM_SIZE},
        {"item", required_argument, nullptr, LONG_ITEM},
        {"raw", no_argument, nullptr, LONG_RAW},
        {"replaced", no_argument, nullptr, LONG_REPLACED},
        {"template", no_argument, nullptr, LONG_TEMPLATE},
        {"require", required_argument, nullptr, LONG_REQUIRE},
        {"dry-run", no_argument, nullptr, LONG_DRY_RUN},
        {"verbose", no_argument, nullptr, LONG_VERBOSE},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    }};
}

constexpr option_table switch_options = make_options(no_argument);
constexpr option_table build_options = make_options(required_argument);

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

int count_error(const char *what, const char *arg)
{
    image_error("invalid %s: %s (0 to %zu, decimal or 0x-prefixed hexadecimal)", what, arg,
                IMAGE_FILE_MAX);
    return usage_hint();
}

const char *option_name(unsigned bit)
{
    constexpr const char *names[] = {"--json", "--offset", "-o", "--from", "--eeprom-size",
                                     "--item", "--raw", "--replaced", "--template",
                                     "--require", "--dry-run", "--verbose"};
    for (unsigned i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
        if (bit == 1u << i) {
            return names[i];
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
    case LONG_ITEM:
        return OPT_ITEM;
    case LONG_RAW:
        return OPT_RAW;
    case LONG_REPLACED:
        return OPT_REPLACED;
    case LONG_TEMPLATE:
        return OPT_TEMPLATE;
    case LONG_REQUIRE:
        return OPT_REQUIRE;
    case LONG_DRY_RUN:
        return OPT_DRY_RUN;
    case LONG_VERBOSE:
        return OPT_VERBOSE;
    default:
        return 0;
    }
}

// Takes one option into `opt`: IMAGE_OK, or IMAGE_USAGE after a message.
int take_option(int code, const char *arg, image_options *opt)
{
    switch (code) {
    case LONG_JSON:
        opt->json = arg == nullptr;
        opt->json_in = arg;
        return IMAGE_OK;
    case 'o':
        opt->output = arg;
        return IMAGE_OK;
    case LONG_FROM:
        opt->from = arg;
        return IMAGE_OK;
    case LONG_ITEM:
        opt->item = arg;
        return IMAGE_OK;
    case LONG_RAW:
        opt->raw = true;
        return IMAGE_OK;
    case LONG_REPLACED:
        opt->replaced = true;
        return IMAGE_OK;
    case LONG_TEMPLATE:
        opt->template_form = true;
        return IMAGE_OK;
    case LONG_REQUIRE:
        opt->require = arg;
        return IMAGE_OK;
    case LONG_DRY_RUN:
        opt->dry_run = true;
        return IMAGE_OK;
    case LONG_VERBOSE:
        image_log_to_stderr();
        return IMAGE_OK;
    case LONG_OFFSET:
        return parse_count(arg, &opt->offset) ? IMAGE_OK : count_error("offset", arg);
    case LONG_EEPROM_SIZE:
        return parse_count(arg, &opt->eeprom_size) ? IMAGE_OK : count_error("EEPROM size", arg);
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

int option_error(const command &cmd, unsigned bit, const char *problem)
{
    image_error("%s: option %s %s", cmd.name, option_name(bit), problem);
    return usage_hint();
}

// Standard input can be read once: "-" at most once among the files read.
int check_stdin_once(const command &cmd, const image_options &opt)
{
    int readers = (opt.from != nullptr && image_is_stdio(opt.from)) +
                  (opt.json_in != nullptr && image_is_stdio(opt.json_in));
    for (int i = 0; cmd.file_operands && i < opt.nargs; ++i) {
        readers += image_is_stdio(opt.args[i]);
    }
    return readers > 1 ? usage_error(cmd.name, ": standard input (-) named more than once")
                       : IMAGE_OK;
}

// Some operand is a file, not the board.
bool names_a_file(const image_options &opt)
{
    for (int i = 0; i < opt.nargs; ++i) {
        if (!image_is_board(opt.args[i])) {
            return true;
        }
    }
    return false;
}

// Options that are given but do nothing, or missing: usage errors.
int check_combination(const command &cmd, unsigned seen, const image_options &opt)
{
    const unsigned missing = cmd.required & ~seen;
    if (missing != 0) {
        return option_error(cmd, missing, "is required");
    }
    const bool from_file = opt.from != nullptr && !image_is_board(opt.from);
    if (std::strcmp(cmd.name, "build") == 0 && (seen & OPT_OFFSET) != 0 &&
        (seen & OPT_EEPROM_SIZE) == 0 && !from_file) {
        return option_error(cmd, OPT_OFFSET, "applies only with --from FILE or --eeprom-size");
    }
    if ((seen & OPT_RAW) != 0 && (seen & OPT_ITEM) == 0) {
        return option_error(cmd, OPT_RAW, "applies only with --item");
    }
    if ((seen & OPT_TEMPLATE) != 0 && (seen & OPT_JSON) == 0) {
        return option_error(cmd, OPT_TEMPLATE, "applies only with --json");
    }
    if ((seen & OPT_ITEM) != 0 && (seen & OPT_JSON) != 0) {
        return option_error(cmd, OPT_ITEM, "does not go with --json");
    }
    if (opt.nargs < cmd.min_args || opt.nargs > cmd.max_args) {
        image_error("%s: %s expected", cmd.name, cmd.operands);
        return usage_hint();
    }
    if ((seen & OPT_OFFSET) != 0 && cmd.file_operands && !names_a_file(opt)) {
        return option_error(cmd, OPT_OFFSET, "applies only to a label file, not to board");
    }
    return check_stdin_once(cmd, opt);
}

// Parses argv (argv[0] the command's name) into `opt`; -1 to go on, else the exit status.
int parse_options(const command &cmd, int argc, char *argv[], image_options *opt)
{
    const bool json_file = std::strcmp(cmd.name, "build") == 0 || std::strcmp(cmd.name, "set") == 0;
    const option *table = json_file ? build_options.list : switch_options.list;
    unsigned seen = 0;
    opterr = 0;
    optind = 0;  // a full reset: glibc then starts afresh
    for (;;) {
        const int code = getopt_long(argc, argv, ":o:hV", table, nullptr);
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
        const unsigned bit = option_bit_of(code);
        if ((cmd.options & bit) == 0) {
            return option_error(cmd, bit, "does not apply");
        }
        if ((seen & bit) != 0) {
            return option_error(cmd, bit, "given twice");
        }
        seen |= bit;
        if (take_option(code, optarg, opt) != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    opt->args = argv + optind;
    opt->nargs = argc - optind;
    const int ret = check_combination(cmd, seen, *opt);
    return ret == IMAGE_OK ? -1 : ret;
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
    image_options opt{nullptr, nullptr, nullptr, nullptr, -1, -1, false, false, false, nullptr, 0,
                      false, nullptr, false};
    const int parsed = parse_options(*cmd, argc - 1, argv + 1, &opt);
    if (parsed >= 0) {
        return parsed;
    }
    return cmd->run(opt);
}
