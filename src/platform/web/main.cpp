// The game in a web page: the start-up of the desktop game, with the page's address for
// the seed and the browser's storage for the best score. The page records the session
// played, as the desktop's --record does, into a file in the page's memory that it offers
// for download, shows recordings in the canvas with the desktop's viewer, and races the
// ghost of a recording as the desktop's --ghost does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <GL/freeglut.h>
#include <emscripten/emscripten.h>

#include "app/controls.h"
#include "app/decimal.h"
#include "app/ghost.h"
#include "app/playback.h"
#include "app/script.h"
#include "app/record.h"
#include "app/shell.h"
#include "app/shell_session.h"
#include "app/viewer.h"
#include "app/window.h"
#include "platform/web/glut_page.h"

namespace {

// The longest seed read: a simulator script's whole line, so that any seed a script
// gives plays here too, however many zeros lead it.
constexpr int SEED_TEXT_MAX = 255;

enum SeedText { NO_SEED = 0, SEED_WHOLE = 1, SEED_TOO_LONG = 2 };

// The address's "seed" parameter, written into text (SEED_TEXT_MAX + 1 bytes) with its
// length in bytes in *length, which counts any NUL byte in it (the address may spell one
// as %00): only a text whose length is that of the C string is the parameter whole.
EM_JS(int, page_seed_text, (char* text, int size, int* length), {
    const value = new URLSearchParams(window.location.search).get("seed");
    if (value === null)
        return 0;
    const bytes = lengthBytesUTF8(value);
    if (bytes >= size)
        return 2;
    stringToUTF8(value, text, size);
    HEAP32[length >> 2] = bytes;
    return 1;
});

// Tells the player, on the page, that the address's seed was not used.
EM_JS(void, show_seed_problem, (const char* why), {
    const note = document.getElementById("seed-problem");
    if (note) {
        note.textContent = "The address's seed " + UTF8ToString(why) +
                           ": this is a random tunnel.";
        note.hidden = false;
    }
});

// 64 bits from the browser's random source, as the desktop reads /dev/random.
EM_JS(void, browser_random_seed, (std::uint32_t* words), {
    const values = new Uint32Array(2);
    window.crypto.getRandomValues(values);
    HEAPU32[words >> 2] = values[0];
    HEAPU32[(words >> 2) + 1] = values[1];
});

// The seed that the address chose for the page's game (narrowed as the game takes it), or
// -1 when the browser's random source seeded it.
std::int64_t chosen_seed = -1;

// ?seed=N plays the tunnel of seed N, as a desktop game whose random device gave N, and
// N is read as the simulator reads --seed N. A wrong seed is said on the page and in the
// console, and a random tunnel is played.
std::uint32_t seed_from_page()
{
    chosen_seed = -1;
    set_run_seed(std::nullopt);
    std::uint64_t seed = 1;
    char text[SEED_TEXT_MAX + 1] = "";
    int length = 0;
    const int found = page_seed_text(text, sizeof text, &length);
    const bool whole = found == SEED_WHOLE && std::strlen(text) == static_cast<std::size_t>(length);
    if (whole && parse_count(text, &seed)) {
        seed_game(seed);
        // Every run of the page's game flies it, as skarvolt --seed N has them do.
        chosen_seed = static_cast<std::uint32_t>(seed);
        set_run_seed(static_cast<std::uint32_t>(seed));
        return static_cast<std::uint32_t>(seed);
    }
    if (found != NO_SEED) {
        char why[64];
        if (found == SEED_TOO_LONG)
            std::snprintf(why, sizeof why, "is longer than %d characters", SEED_TEXT_MAX);
        else if (!whole)
            std::snprintf(why, sizeof why, "holds a NUL character");
        else
            std::snprintf(why, sizeof why, "is not a whole number from 0 to 18446744073709551615");
        // The console shows the text, a NUL in it as \0; the page says what is wrong.
        std::fputs("Skarvolt: the seed ", stderr);
        if (found == SEED_WHOLE) {
            std::fputc('"', stderr);
            for (int i = 0; i < length; ++i) {
                if (text[i] == '\0')
                    std::fputs("\\0", stderr);
                else
                    std::fputc(text[i], stderr);
            }
            std::fputs("\" ", stderr);
        }
        std::fprintf(stderr, "%s; playing a random tunnel\n", why);
        show_seed_problem(why);
    }
    std::uint32_t words[2];
    browser_random_seed(words);
    seed = (static_cast<std::uint64_t>(words[1]) << 32) | words[0];
    seed_game(seed);
    return static_cast<std::uint32_t>(seed);
}

// The session played in the page, recorded in the page's memory; the files shown are
// written beside it, under their own names, for the viewer to read.
constexpr char SESSION_PATH[] = "/session.rec";
constexpr char WATCHED_DIR[] = "/watched";
constexpr int NAME_MAX_BYTES = 200;
// The viewer's limit, in the page's numbers: a file larger is no recording, and is not
// copied into the page's memory to find out.
constexpr int RECORDING_MAX_BYTES = static_cast<int>(MAX_RECORDING_BYTES);
static_assert(RECORDING_MAX_BYTES == MAX_RECORDING_BYTES);

// A session starts recording afresh with its seed, under the page's controls of the moment,
// naming the ghost it races, if any.
void record_session(std::uint32_t seed, const GhostRecording* ghost)
{
    finish_recording();
    if (ghost != nullptr)
        record_ghost(ghost->seed, ghost->score);
    else
        record_no_ghost();
    if (start_recording(SESSION_PATH))
        record_seed(seed);
}

// The recording the page was given to show or race (Module.watchBytes, Module.watchName).
EM_JS(int, watched_length, (), {
    return Module.watchBytes ? Module.watchBytes.length : -1;
});
EM_JS(void, watched_name, (char* name, int name_size), {
    stringToUTF8(Module.watchName || "", name, name_size);
});
EM_JS(void, watched_bytes, (char* to), {
    HEAPU8.set(Module.watchBytes, to);
});

// Hands the page the session's recording (Module.sessionRecording), to send.
EM_JS(void, hand_recording, (const char* bytes, int length), {
    Module.sessionRecording = HEAPU8.slice(bytes, bytes + length);
});

// Hands the page the recording's bytes as a file to save.
EM_JS(void, offer_download, (const char* bytes, int length, const char* name), {
    const blob = new Blob([HEAPU8.slice(bytes, bytes + length)], {type: "text/plain"});
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = UTF8ToString(name);
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 60000);
});

// The name a file is shown under: its own, without anything that would make it a path.
void file_name(char* name)
{
    for (char* c = name; *c != '\0'; ++c)
        if (*c == '/')
            *c = '_';
    if (std::strcmp(name, "") == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        std::strcpy(name, "recording");
}

// The recording of the session played in the page, as far as it has gone: empty when there
// is none (the page's memory refused it).
std::vector<char> session_recording()
{
    flush_recording();
    std::vector<char> bytes;
    std::FILE* file = std::fopen(SESSION_PATH, "rb");
    if (file == nullptr)
        return bytes;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return bytes;
}

bool write_file(const char* path, const std::vector<char>& bytes)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && whole;
}

} // namespace

// The page's settings (its panel, its address's parameters): the button toggled or held,
// the pace in percent, the keys as the button. The page calls it before the game starts
// and whenever the player changes them; a run in progress goes on at the new pace.
extern "C" EMSCRIPTEN_KEEPALIVE void page_controls(int toggle, int speed, int keys)
{
    if (speed < SLOWEST_SPEED || speed > FULL_SPEED)
        speed = FULL_SPEED;
    // The recording names them, as the desktop's names its options, and notes the pace
    // where it changes.
    use_controls({.toggle = toggle != 0, .keys = keys != 0, .speed = speed});
}

namespace {

// A new game in the same canvas, as a reload of the page would start it (the title
// screen), except that the best score stays even where the browser's storage keeps
// nothing. It flies the address's seed, or races `ghost` in the ghost's tunnel.
void fresh_game(const GhostRecording* ghost)
{
    const std::uint32_t best = best_known();
    new_game();
    use_shell_callbacks();
    if (ghost != nullptr) {
        seed_game(ghost->seed);
        chosen_seed = ghost->seed;
        set_run_seed(ghost->seed);
        record_session(ghost->seed, ghost);
        race(ghost->run());
    } else {
        record_session(seed_from_page(), nullptr);
    }
    open_title_screen(best);
    glut_resume();
}

} // namespace

// The page's "Play again", after a quit key, and "Stop racing": a new game of the
// address's tunnel.
extern "C" EMSCRIPTEN_KEEPALIVE void play_again()
{
    fresh_game(nullptr);
}

// The most the page reads of a recording, file or address: it stops reading there.
extern "C" EMSCRIPTEN_KEEPALIVE int page_recording_limit()
{
    return RECORDING_MAX_BYTES;
}

namespace {

// The recording shown lives as long as the viewer shows it.
RecordedSession shown;
// The ghost raced lives as long as the race: its run's inputs are read at every tick.
GhostRecording raced;

// Tells the page what it races: the recording's name, the ghost's seed and score.
EM_JS(void, show_race, (const char* name, std::uint32_t seed, std::uint32_t score), {
    if (Module.raceStarted)
        Module.raceStarted(UTF8ToString(name), seed, score);
});

// What the page does with a recording given to it, read from the file `name` in the page's
// memory: false, after its one line, when it cannot. May run out of memory.
using ReadGiven = bool (*)(const char* name);

// Puts the recording the page was given, `length` bytes, into the page's memory as the
// file `name`, reads it with `read`, and takes the file away again.
bool read_given(const char* name, int length, ReadGiven read)
{
    if (length > RECORDING_MAX_BYTES) {
        std::fprintf(stderr, "skarvolt: %s: larger than %d MiB, more than any recording holds\n",
                     name, RECORDING_MAX_BYTES >> 20);
        return false;
    }
    std::vector<char> bytes(static_cast<std::size_t>(length));
    watched_bytes(bytes.data());
    // Read from the folder the files are written to, so that a refusal names the file
    // as the player knows it.
    mkdir(WATCHED_DIR, 0700);
    if (chdir(WATCHED_DIR) != 0 || !write_file(name, bytes)) {
        std::fprintf(stderr, "skarvolt: %s: cannot be kept in the page's memory\n", name);
        unlink(name);
        return false;
    }
    bytes = {};
    const bool good = read(name);
    unlink(name);
    return good;
}

// The recording the page was given (Module.watchBytes, named Module.watchName), read with
// `read`: false, after the one line that says why on standard error (the file's name and
// line), when it is no recording or more than the page's memory can hold.
bool read_given(ReadGiven read)
{
    const int length = watched_length();
    if (length < 0)
        return false;
    char name[NAME_MAX_BYTES + 1] = "";
    watched_name(name, sizeof name);
    file_name(name);
    try {
        return read_given(name, length, read);
    } catch (const std::bad_alloc&) {
        unlink(name);
        std::fprintf(stderr, "skarvolt: %s: not enough memory to hold it\n", name);
        return false;
    }
}

// The viewer shows a recording given to the page.
bool watch_given(const char* name)
{
    RecordedSession loaded;
    if (!load_session(name, &loaded))
        return false;
    // What ran in the canvas stops (the game's timers, or the viewer's), as a quit key
    // stops it; then the viewer takes the canvas, reshaped to its size.
    glut_quit();
    glut_resume();
    shown = std::move(loaded);
    start_viewer(shown, name);
    return true;
}

// The page's game races the ghost of a recording given to the page: a new game in the
// canvas, as "Play again" starts one, whose every run flies the ghost's tunnel with the
// ghost beside it, as skarvolt --ghost does.
bool race_given(const char* name)
{
    GhostRecording loaded;
    if (!read_ghost_file(name, &loaded))
        return false;
    glut_quit();
    raced = std::move(loaded);
    fresh_game(&raced);
    show_race(name, raced.seed, raced.score);
    return true;
}

} // namespace

// Shows the recording the page was given (Module.watchBytes, named Module.watchName) in
// the canvas, with the desktop viewer's keys, in place of what it showed. False, after the
// one line that says why on standard error (the file's name and line), when it is no
// recording or more than the page's memory can hold: what was shown goes on.
extern "C" EMSCRIPTEN_KEEPALIVE int page_watch()
{
    return read_given(watch_given) ? 1 : 0;
}

// Races the ghost of the recording the page was given (as page_watch takes it): a new
// game in the canvas, in place of what it showed, flies the tunnel of the recording's
// first run with that run beside it (Module.raceStarted is told the name, the seed and
// the ghost's score). False, after the one line that says why, when it is no recording
// or holds no run from its seed that crashed: what was shown goes on.
extern "C" EMSCRIPTEN_KEEPALIVE int page_race()
{
    return read_given(race_given) ? 1 : 0;
}

// "Save this session": the recording of the session played in the page, as a file to
// download. False when there is none (the page's memory refused it).
extern "C" EMSCRIPTEN_KEEPALIVE int page_save_session()
{
    const std::vector<char> bytes = session_recording();
    if (bytes.empty())
        return 0;
    offer_download(bytes.data(), static_cast<int>(bytes.size()), "skarvolt-session.rec");
    return 1;
}

// The session's recording, handed to the page (Module.sessionRecording) to submit to the
// game's server. False when there is none.
extern "C" EMSCRIPTEN_KEEPALIVE int page_session_recording()
{
    const std::vector<char> bytes = session_recording();
    if (bytes.empty())
        return 0;
    hand_recording(bytes.data(), static_cast<int>(bytes.size()));
    return 1;
}

// What the page follows of its game, to take part in the server's boards: the game's
// state flags (a run starts, crashes), its score, and the seed its runs fly, with
// whether the address chose it (-1 when the browser's random source did).
extern "C" EMSCRIPTEN_KEEPALIVE int page_game_state()
{
    return static_cast<int>(window_session().game.state);
}

extern "C" EMSCRIPTEN_KEEPALIVE double page_game_score()
{
    return window_session().game.score;
}

extern "C" EMSCRIPTEN_KEEPALIVE double page_chosen_seed()
{
    return static_cast<double>(chosen_seed);
}

int main()
{
    char name[] = "skarvolt";
    char* argv[] = {name, nullptr};
    int argc = 1;
    open_window(&argc, argv);
    record_session(seed_from_page(), nullptr);
    open_title_screen();
    glutMainLoop();
    return 0;
}
