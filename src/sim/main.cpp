// skarvolt-sim: replays a script of events through the game without a window and prints
// the flight of every tick.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "app/options.h"
#include "app/script.h"
#include "sim/replay.h"
#include "version.h"

namespace {

constexpr char USAGE[] =
    "usage: skarvolt-sim [--seed N] [SCRIPT]\n"
    "Replays SCRIPT (standard input when absent or \"-\") through the game, without a window.\n"
    "  --seed N      seed of the random generator, 0 to 18446744073709551615 (default 1);\n"
    "                once only\n"
    "  -v, --version print the version\n"
    "  -h, --help    print this summary\n"
    "  --            the next argument is the script, even if it begins with \"-\"\n"
    "Script: one event per line; blank lines and text from \"#\" on are ignored.\n"
    "  seed N            seeds the generator; only before a run starts (the first, or\n"
    "                    one after a frame has shown the last crash), and not with --seed\n"
    "  press | release   a mouse button goes down | up\n"
    "  tick [N]          N tick periods pass (default 1; 0 passes none)\n"
    "  frame             the window is redrawn\n"
    "  best N            the best score the game showed from here on, 0 to 4294967295\n"
    "  speed N           the pace played at from here on, 50 to 100 percent\n"
    "Lines are at most 255 characters long, comments included, and hold no NUL. A script\n"
    "asks for at most 20000000 ticks of play, a frame counting 720.\n"
    "Each tick that runs prints: SCORE Y VELOCITY CENTER OBSTACLE; the tick that crashes\n"
    "is followed by: crash SCORE. Events run as they are read, so on a line that is no\n"
    "event the replay stops there, with status 2, after the trace of the lines before.\n";

// The game that the script plays. Here rather than in main, where it would be guarded
// against a second thread with a call into the C++ runtime.
Session sim;

// The trace of a long replay is megabytes; writing it in large pieces keeps the
// formatting, not the writing, the cost of a tick.
char out_buffer[1 << 20];

// The seed, as the game's --seed reads it.
const Option SEED_OPTION = {"--seed", nullptr, "N", "a number",
                            "a whole number from 0 to 18446744073709551615", 0, UINT64_MAX,
                            "seed of the random generator (default 1); once only"};

// The detail comes from the command line, so it is shown escaped. A message of "" has
// been said already.
int bad_usage(const char* message, const char* detail)
{
    if (*message != '\0') {
        std::fprintf(stderr, "skarvolt-sim: %s", message);
        put_escaped(detail, stderr);
        std::fputc('\n', stderr);
    }
    std::fputs(USAGE, stderr);
    return EXIT_BAD_INPUT;
}

static_assert(MAX_EVENT_LINE == 255 && MAX_SCRIPT_WORK == 20'000'000 && FRAME_WORK == 720,
              "the usage says them");

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);

    // "--" ends the options: what follows is the script, whatever its name.
    int options_end = argc;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--") == 0) {
            options_end = i;
            break;
        }
    for (int i = 1; i < options_end; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--version") == 0) {
            std::printf("Skarvolt %s\n", VERSION);
            return 0;
        }
    }
    int option_count = options_end;
    OptionGiven seed;
    if (!take_option("skarvolt-sim", SEED_OPTION, &option_count, argv, &seed))
        return bad_usage("", "");
    // What is left of the options is the script's name, and so is what follows "--".
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (i >= option_count && i <= options_end)
            continue;
        const char* arg = argv[i];
        if (i < option_count && arg[0] == '-' && std::strcmp(arg, "-") != 0)
            return bad_usage("unknown option: ", arg);
        if (path != nullptr)
            return bad_usage("more than one script: ", arg);
        path = arg;
    }

    std::FILE* script = stdin;
    const char* name = "standard input";
    if (path != nullptr && std::strcmp(path, "-") != 0) {
        script = std::fopen(path, "r");
        if (script == nullptr) {
            const int error = errno;
            std::fputs("skarvolt-sim: ", stderr);
            put_escaped(path, stderr);
            std::fprintf(stderr, ": %s\n", std::strerror(error));
            return EXIT_BAD_INPUT;
        }
        name = path;
    }

    // Files and pipes alike are read a line at a time, but only a file is sure to have
    // its next line ready; on anything else the answer must not wait in the buffer.
    struct stat input {};
    const bool from_file = fstat(fileno(script), &input) == 0 && S_ISREG(input.st_mode);

    start_replay(sim, seed.given ? seed.number : 1);
    const int status = replay(sim, script, name, stdout,
                              {.seed_chosen = seed.given, .flush_each_line = !from_file});
    if (script != stdin)
        std::fclose(script);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "skarvolt-sim: cannot write the trace: %s\n", std::strerror(errno));
        return status != 0 ? status : EXIT_WRITE_FAILED;
    }
    return status;
}
