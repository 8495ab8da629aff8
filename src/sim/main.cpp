// skarvolt-sim: replays a script of events through the game without a window and prints
// the flight of every tick.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "app/decimal.h"
#include "app/script.h"
#include "app/shell.h"
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
    "  seed N            seeds the generator; only as the first event, and not with --seed\n"
    "  press | release   a mouse button goes down | up\n"
    "  tick [N]          N tick periods pass (default 1; 0 passes none)\n"
    "  frame             the window is redrawn\n"
    "  best N            the best score shown from here, 0 to 4294967295\n"
    "Lines are at most 255 characters long, comments included, and hold no NUL. A script\n"
    "asks for at most 20000000 ticks of play, a frame counting 720.\n"
    "Each tick that runs prints: SCORE Y VELOCITY CENTER OBSTACLE; the tick that crashes\n"
    "is followed by: crash SCORE. Events run as they are read, so on a line that is no\n"
    "event the replay stops there, with status 2, after the trace of the lines before.\n";

// The game that the script plays. Here rather than in main, where it would be guarded
// against a second thread with a call into the C++ runtime.
SimGame sim;

// The trace of a long replay is megabytes; writing it in large pieces keeps the
// formatting, not the writing, the cost of a tick.
char out_buffer[1 << 20];

// The detail comes from the command line, so it is shown escaped.
int bad_usage(const char* message, const char* detail)
{
    std::fprintf(stderr, "skarvolt-sim: %s", message);
    put_escaped(detail, stderr);
    std::fprintf(stderr, "\n%s", USAGE);
    return EXIT_BAD_INPUT;
}

static_assert(MAX_EVENT_LINE == 255 && MAX_SCRIPT_WORK == 20'000'000 && FRAME_WORK == 720,
              "the usage says them");

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);

    std::uint64_t seed = 1;
    bool seed_chosen = false;
    const char* path = nullptr;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* seed_text = nullptr;
        if (options_done || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            if (path != nullptr)
                return bad_usage("more than one script: ", arg);
            path = arg;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "--version") == 0) {
            std::printf("Skarvolt %s\n", VERSION);
            return 0;
        } else if (std::strcmp(arg, "--seed") == 0 || std::strncmp(arg, "--seed=", 7) == 0) {
            // A second seed would silently win over the first: which one was meant?
            if (seed_chosen)
                return bad_usage("--seed given twice", "");
            seed_chosen = true;
            if (arg[6] == '=')
                seed_text = arg + 7;
            else if (i + 1 == argc)
                return bad_usage("--seed needs a number", "");
            else
                seed_text = argv[++i];
        } else {
            return bad_usage("unknown option: ", arg);
        }
        if (seed_text != nullptr && !parse_count(seed_text, &seed))
            return bad_usage("--seed takes a whole number from 0 to 18446744073709551615, not: ",
                             seed_text);
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

    start_replay(sim, seed);
    const int status = replay(sim, script, name, stdout,
                              {.seed_chosen = seed_chosen, .flush_each_line = !from_file});
    if (script != stdin)
        std::fclose(script);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "skarvolt-sim: cannot write the trace: %s\n", std::strerror(errno));
        return status != 0 ? status : EXIT_WRITE_FAILED;
    }
    return status;
}
