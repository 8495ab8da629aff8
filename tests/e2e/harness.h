// End-to-end harness: runs the real game binary in a private Xvfb, with a fake home
// directory, and drives and watches it through Xlib and XTest. Every wait is bounded;
// a failed step throws std::runtime_error with what went wrong, which GoogleTest
// reports as a failure of the test.
//
//   e2e::XServer x;                        // private Xvfb on a free display
//   e2e::Sandbox box;                      // temp dir with a fake home: box.home()
//   test_support::write_file(box.score_file(), "10\n");
//   e2e::Game game(box, {.args = {"-geometry", "640x480"}}, &x);
//   Window w = game.window();              // found by title, moved to (0,0), focused,
//                                          // drawn anew
//   x.press(200, 150);                     // pointer to (200,150), button 1 down
//   e2e::Image shot = x.settled_image(w, [](const e2e::Image& i) { return ...; });
//   x.key("q");
//   auto status = game.wait_exit();        // std::nullopt while it still runs
//
// Everything is torn down by the destructors: the game is killed, Xvfb is stopped and
// the sandbox removed. Xvfb dies with the test process, and so does the game (one run as
// another user loses the signal when it changes user, and its display when Xvfb goes).
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "support/scratch.h"
#include "version.h"

namespace e2e {

using Millis = std::chrono::milliseconds;
inline constexpr Millis DEFAULT_TIMEOUT{15000};

// The line that opens every recording the game makes.
inline const std::string RECORDING_HEADER =
    std::string("# Skarvolt ") + VERSION + " recording\n";

// Polls `done` every few milliseconds until it holds or `timeout` has passed; returns
// whether it held.
bool wait_until(const std::function<bool()>& done, Millis timeout = DEFAULT_TIMEOUT);

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb BLACK{0, 0, 0};
inline constexpr Rgb WHITE{255, 255, 255};
inline constexpr Rgb GREEN{0, 255, 0};
// The game windows' background, a colour the game never draws: a picture that shows it
// is one the game has not drawn yet (after the window moved, was resized or exposed).
inline constexpr Rgb UNDRAWN{1, 2, 3};
std::ostream& operator<<(std::ostream& out, Rgb c);

// A window's picture; row 0 is the top row, column 0 the left edge.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels; // row-major

    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    bool operator==(const Image&) const = default;
    // No pixel is UNDRAWN: the game has drawn all of it.
    bool drawn() const;
    // Writes a binary PPM, for looking at a failure.
    void save_ppm(const std::string& path) const;
};

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
};

// A private Xvfb. It picks a free display number itself (-displayfd), so servers of
// tests running in parallel never collide; it is ready when the number arrives. It is
// started as the tools start theirs (tools/lib/xvfb.bash), but from here: each test case
// owns its server for as long as the object lives, and the server dies with the test
// process even when the test is killed, which a wrapping script could not promise.
class XServer {
public:
    explicit XServer(int width = 1024, int height = 768);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& name() const { return name_; } // ":N", the DISPLAY value
    Display* display() const { return dpy_; }

    // The mapped top-level window titled `title`; throws when none shows up in time, or
    // as soon as `give_up` holds.
    Window find_window(const std::string& title, Millis timeout = DEFAULT_TIMEOUT,
                       const std::function<bool()>& give_up = {}) const;
    // The top-level window titled `title`, mapped or not, if there is one now.
    std::optional<Window> window_titled(const std::string& title) const;

    Geometry geometry(Window w) const; // position on the screen and size
    // The window's title in UTF-8, as a desktop shows it (_NET_WM_NAME), or the window
    // system's old name where the window has no such name.
    std::string title(Window w) const;
    void move(Window w, int x, int y);
    void resize(Window w, int width, int height);
    void focus(Window w);
    // Destroys the window, as another program may (xdotool windowclose).
    void destroy(Window w);
    // Unmaps or maps the window again, as a window manager iconifies and restores it.
    void set_mapped(Window w, bool mapped);
    // Gives the window the background UNDRAWN and clears it to that, with an Expose that
    // has the game draw it again; from then on a resize shows UNDRAWN too until the game
    // has drawn the new size.
    void redraw(Window w);

    // Presses and releases the key of an X keysym name ("q", "Q", "Escape", "Left",
    // "F1"); Shift is held for upper-case letters. Keys reach the focused window.
    void key(const std::string& keysym);
    // Presses or releases, alone, the key of a keysym name that needs no Shift ("space",
    // "Left"): a key held down repeats as the server repeats it.
    void hold_key(const std::string& keysym, bool down);
    void pointer(int x, int y);           // moves the pointer, screen coordinates
    void button(int number, bool down);   // presses or releases a mouse button
    void press(int x, int y) { pointer(x, y); button(1, true); }
    void release() { button(1, false); }

    Image grab(Window w) const;
    // Grabs until the picture is all drawn (no UNDRAWN) and `ready` holds for it (no
    // `ready`: any such picture); throws on timeout.
    Image wait_for_image(Window w, const std::function<bool(const Image&)>& ready,
                         Millis timeout = DEFAULT_TIMEOUT) const;
    // Like wait_for_image, but the picture must also stay the same over a short while,
    // so a frame that is still being drawn is not taken.
    Image settled_image(Window w, const std::function<bool(const Image&)>& ready = {},
                        Millis timeout = DEFAULT_TIMEOUT) const;

private:
    void stop();

    std::string name_;
    std::string log_;
    pid_t pid_ = -1;
    Display* dpy_ = nullptr;
};

// A scratch directory holding the fake home directory and the files that make the
// password database point there. Removed at the end.
class Sandbox {
public:
    Sandbox();

    const std::string& dir() const { return scratch_.path; }
    std::string path(const std::string& relative) const { return scratch_ / relative; }
    // The home directory the game finds in the password database; dir()/home by
    // default, created empty. set_home takes any path, even one that does not exist.
    const std::string& home() const { return home_; }
    void set_home(const std::string& path) { home_ = path; }
    std::string score_file() const { return home_ + "/.skarvolt"; }

private:
    test_support::ScratchDir scratch_;
    std::string home_;
};

struct BindMount {
    std::string source{};
    std::string target{};
    bool read_only = false;
};

// The random device the game sees. Anything but System runs the game in a private
// mount namespace, which needs root; see test_support::private_mounts_available(). So
// do mounts, passwd_bound, user and in_namespace below.
enum class RandomDevice {
    System,     // the machine's /dev/random
    File,       // GameOptions::random_file bound over /dev/random (8 bytes choose the seed)
    Unopenable, // /dev/random on a nodev mount: opening it fails, even for root
};

// Designated initialisers pick what a test needs: {.args = {"-v"}}.
struct GameOptions {
    std::vector<std::string> args{};    // after the program name
    std::string name{};                 // program name (a symlink); default: unique
    std::optional<std::string> argv0{}; // argv[0] as passed; default: the symlink's path
    std::vector<std::string> env{};     // extra or overriding "NAME=value" entries; "NAME"
                                        // takes one of the harness's away
    std::vector<std::string> preload{}; // libraries preloaded after nss_wrapper
    RandomDevice random = RandomDevice::System;
    std::string random_file{};
    std::vector<BindMount> mounts{};    // further binds in the private mount namespace
    // The user and group the game runs as (root only); its password entry names them.
    std::optional<std::pair<uid_t, gid_t>> user{};
    // The password entry comes from files bound over /etc/passwd and /etc/group in a
    // private mount namespace, not through nss_wrapper, whose open files would take the
    // place of a closed standard descriptor.
    bool passwd_bound = false;
    std::vector<int> closed{};          // standard descriptors the game starts without
    // Runs in the game's process, in its private mount namespace, right before it
    // becomes the game: nodes and mounts of the test's own. Returns what failed, or "".
    std::function<std::string()> in_namespace{};
};

struct ExitStatus {
    bool exited = false; // false: killed by a signal
    int code = 0;        // exit code, or the signal number
    bool ok() const { return exited && code == 0; }
};
std::ostream& operator<<(std::ostream& out, const ExitStatus& status);

// Writes 8 bytes holding `seed` (native byte order) to `path`, for RandomDevice::File.
void write_seed(const std::string& path, std::uint64_t seed);

// The game binary, started under a name of its own (so its window title is unique)
// with a clean environment: the fake home through nss_wrapper, no shader cache, and
// DISPLAY only when a server is given. Its standard output and error go to files.
class Game {
public:
    Game(Sandbox& box, GameOptions options = {}, XServer* server = nullptr);
    ~Game(); // kills the game if it still runs
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& title() const { return title_; } // the expected window title
    std::string out() const;                            // standard output so far
    std::string err() const;                            // standard error so far

    // The game's window: found by its title, moved to (0, 0), given the input focus.
    Window window(Millis timeout = DEFAULT_TIMEOUT);

    std::optional<ExitStatus> wait_exit(Millis timeout = DEFAULT_TIMEOUT);
    bool running();
    void kill();

private:
    XServer* server_;
    std::string title_;
    std::string out_path_;
    std::string err_path_;
    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
    std::optional<Window> window_;
};

// Path of the game binary under test: the one built beside the tests, or the one that
// the environment variable SKARVOLT_E2E_GAME names (an installed or instrumented build).
const char* game_binary();

} // namespace e2e
