#include "harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/files.h"
#include "support/mounts.h"
#include "support/passwd.h"

namespace e2e {

using test_support::Bind;
using test_support::errno_text;

namespace {

using Clock = std::chrono::steady_clock;
constexpr Millis POLL_STEP{10};
constexpr Millis SETTLE_GAP{80};
constexpr Millis SERVER_STOP_TIMEOUT{5000};

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what);
}

// Xlib's default handler ends the process on any error; a window that vanished between
// two calls must only fail the call.
int last_x_error = 0;
int record_x_error(Display*, XErrorEvent* event)
{
    last_x_error = event->error_code;
    return 0;
}

std::string file_text(const std::string& path)
{
    return test_support::read_file(path).value_or("");
}

std::string base_name(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes "e2e harness: what[: reason]" in the child between fork and exec, where only
// plain system calls are safe.
void child_say(const char* what, const char* reason)
{
    const char prefix[] = "e2e harness: ";
    (void)!::write(2, prefix, sizeof prefix - 1);
    (void)!::write(2, what, std::strlen(what));
    if (reason) {
        (void)!::write(2, ": ", 2);
        (void)!::write(2, reason, std::strlen(reason));
    }
    (void)!::write(2, "\n", 1);
}

void child_fail(const char* what)
{
    child_say(what, std::strerror(errno));
}

// Forks a child that dies with the test process and reads nothing.
pid_t fork_child(int death_signal)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        fail(errno_text("fork"));
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, death_signal);
        const int null_fd = ::open("/dev/null", O_RDONLY);
        ::dup2(null_fd, 0);
    }
    return pid;
}

std::vector<char*> c_strings(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int channel_shift(unsigned long mask)
{
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

} // namespace

bool wait_until(const std::function<bool()>& done, Millis timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(POLL_STEP);
    }
}

std::ostream& operator<<(std::ostream& out, Rgb c)
{
    return out << "rgb(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

std::ostream& operator<<(std::ostream& out, const ExitStatus& status)
{
    return out << (status.exited ? "exit status " : "killed by signal ") << status.code;
}

bool Image::drawn() const
{
    return std::find(pixels.begin(), pixels.end(), UNDRAWN) == pixels.end();
}

void Image::save_ppm(const std::string& path) const
{
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << width << " " << height << "\n255\n";
    for (const Rgb& p : pixels)
        file.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
}

// ---------------------------------------------------------------- XServer

XServer::XServer(int width, int height)
{
    XSetErrorHandler(record_x_error);

    char log_template[] = "/tmp/skarvolt-e2e-xvfb-XXXXXX";
    const int log_fd = ::mkstemp(log_template);
    if (log_fd < 0)
        fail(errno_text("mkstemp"));
    log_ = log_template;

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        fail(errno_text("pipe"));
    std::vector<std::string> args{"Xvfb",    "-displayfd", std::to_string(ready[1]),
                                  "-noreset", "-nolisten", "tcp",
                                  "-screen", "0",
                                  std::to_string(width) + "x" + std::to_string(height) + "x24"};
    auto argv = c_strings(args);

    pid_ = fork_child(SIGTERM);
    if (pid_ == 0) {
        ::fcntl(ready[1], F_SETFD, 0);
        ::dup2(log_fd, 1);
        ::dup2(log_fd, 2);
        ::execvp("Xvfb", argv.data());
        child_fail("exec Xvfb");
        ::_exit(127);
    }
    ::close(log_fd);
    ::close(ready[1]);

    // Xvfb writes its display number once it accepts connections.
    std::string number;
    const auto deadline = Clock::now() + DEFAULT_TIMEOUT;
    while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd p{ready[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[16];
        const ssize_t n = ::read(ready[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(ready[0]);
    if (number.find('\n') == std::string::npos) {
        const std::string log = file_text(log_);
        stop();
        fail("Xvfb did not start: " + log);
    }
    name_ = ":" + number.substr(0, number.find('\n'));

    wait_until([&] { return (dpy_ = XOpenDisplay(name_.c_str())) != nullptr; });
    if (!dpy_) {
        stop();
        fail("cannot connect to Xvfb at " + name_);
    }
    int event_base, error_base, major, minor;
    if (!XTestQueryExtension(dpy_, &event_base, &error_base, &major, &minor)) {
        stop();
        fail("Xvfb offers no XTest extension");
    }
}

XServer::~XServer()
{
    stop();
}

void XServer::stop()
{
    if (dpy_) {
        XCloseDisplay(dpy_);
        dpy_ = nullptr;
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status;
        const bool stopped = wait_until([&] { return ::waitpid(pid_, &status, WNOHANG) != 0; },
                                        SERVER_STOP_TIMEOUT);
        if (!stopped) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (!log_.empty()) {
        ::unlink(log_.c_str());
        log_.clear();
    }
}

std::optional<Window> XServer::window_titled(const std::string& title) const
{
    Window root_return, parent;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy_, DefaultRootWindow(dpy_), &root_return, &parent, &children, &count))
        return std::nullopt;
    std::optional<Window> found;
    for (unsigned i = 0; i < count && !found; ++i)
        if (this->title(children[i]) == title)
            found = children[i];
    if (children)
        XFree(children);
    return found;
}

Window XServer::find_window(const std::string& title, Millis timeout,
                            const std::function<bool()>& give_up) const
{
    std::optional<Window> found;
    const bool mapped = wait_until(
        [&] {
            found = window_titled(title);
            return (found && geometry(*found).viewable) || (give_up && give_up());
        },
        timeout);
    if (!mapped || !found || !geometry(*found).viewable)
        fail("no mapped window titled \"" + title + "\" on " + name_);
    return *found;
}

Geometry XServer::geometry(Window w) const
{
    XWindowAttributes attributes{};
    last_x_error = 0;
    if (!XGetWindowAttributes(dpy_, w, &attributes) || last_x_error != 0)
        fail("window " + std::to_string(w) + " is gone");
    return {attributes.x, attributes.y, attributes.width, attributes.height,
            attributes.map_state == IsViewable};
}

std::string XServer::title(Window w) const
{
    std::string title;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* utf8 = nullptr;
    const Atom utf8_string = XInternAtom(dpy_, "UTF8_STRING", False);
    if (XGetWindowProperty(dpy_, w, XInternAtom(dpy_, "_NET_WM_NAME", False), 0, 1024, False,
                           utf8_string, &type, &format, &count, &after, &utf8) == Success
        && utf8 != nullptr && type == utf8_string && format == 8) {
        title.assign(reinterpret_cast<const char*>(utf8), count);
        XFree(utf8);
        return title;
    }
    if (utf8 != nullptr)
        XFree(utf8);
    // The old name, in the window system's Latin-1 (STRING) as a desktop reads it.
    XTextProperty name{};
    if (XGetWMName(dpy_, w, &name) && name.value != nullptr) {
        for (unsigned long k = 0; k < name.nitems; ++k) {
            const unsigned char c = name.value[k];
            if (name.encoding == XA_STRING && c >= 0x80) {
                title += static_cast<char>(0xc0 | c >> 6);
                title += static_cast<char>(0x80 | (c & 0x3f));
            } else {
                title += static_cast<char>(c);
            }
        }
        XFree(name.value);
    }
    return title;
}

void XServer::move(Window w, int x, int y)
{
    XMoveWindow(dpy_, w, x, y);
    XSync(dpy_, False);
}

void XServer::resize(Window w, int width, int height)
{
    XResizeWindow(dpy_, w, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(dpy_, False);
}

void XServer::focus(Window w)
{
    XSetInputFocus(dpy_, w, RevertToParent, CurrentTime);
    XSync(dpy_, False);
}

void XServer::destroy(Window w)
{
    XDestroyWindow(dpy_, w);
    XSync(dpy_, False);
}

void XServer::set_mapped(Window w, bool mapped)
{
    if (mapped)
        XMapWindow(dpy_, w);
    else
        XUnmapWindow(dpy_, w);
    XSync(dpy_, False);
}

void XServer::redraw(Window w)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(dpy_, w, &attributes))
        fail("the window vanished");
    const Visual& v = *attributes.visual;
    const auto channel = [](std::uint8_t value, unsigned long mask) {
        return (static_cast<unsigned long>(value) << std::countr_zero(mask)) & mask;
    };
    XSetWindowBackground(dpy_, w,
                         channel(UNDRAWN.r, v.red_mask) | channel(UNDRAWN.g, v.green_mask) |
                             channel(UNDRAWN.b, v.blue_mask));
    XClearArea(dpy_, w, 0, 0, 0, 0, True);
    XSync(dpy_, False);
}

namespace {

KeyCode key_code(Display* dpy, const std::string& keysym_name, KeySym* keysym)
{
    *keysym = XStringToKeysym(keysym_name.c_str());
    if (*keysym == NoSymbol)
        fail("unknown keysym " + keysym_name);
    const KeyCode code = XKeysymToKeycode(dpy, *keysym);
    if (code == 0)
        fail("no key for keysym " + keysym_name);
    return code;
}

} // namespace

void XServer::hold_key(const std::string& keysym_name, bool down)
{
    KeySym keysym = NoSymbol;
    const KeyCode code = key_code(dpy_, keysym_name, &keysym);
    KeySym lower, upper;
    XConvertCase(keysym, &lower, &upper);
    if (lower != upper && keysym == upper)
        fail("hold_key takes no key that needs Shift: " + keysym_name);
    XTestFakeKeyEvent(dpy_, code, down ? True : False, CurrentTime);
    XSync(dpy_, False);
}

void XServer::key(const std::string& keysym_name)
{
    KeySym keysym = NoSymbol;
    const KeyCode code = key_code(dpy_, keysym_name, &keysym);
    KeySym lower, upper;
    XConvertCase(keysym, &lower, &upper);
    const bool shifted = lower != upper && keysym == upper;
    const KeyCode shift = XKeysymToKeycode(dpy_, XK_Shift_L);
    if (shifted)
        XTestFakeKeyEvent(dpy_, shift, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
    if (shifted)
        XTestFakeKeyEvent(dpy_, shift, False, CurrentTime);
    XSync(dpy_, False);
}

void XServer::pointer(int x, int y)
{
    XTestFakeMotionEvent(dpy_, -1, x, y, CurrentTime);
    XSync(dpy_, False);
}

void XServer::button(int number, bool down)
{
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(number), down ? True : False, CurrentTime);
    XSync(dpy_, False);
}

Image XServer::grab(Window w) const
{
    const Geometry g = geometry(w);
    last_x_error = 0;
    XImage* shot = XGetImage(dpy_, w, 0, 0, static_cast<unsigned>(g.width),
                             static_cast<unsigned>(g.height), AllPlanes, ZPixmap);
    if (!shot || last_x_error != 0) {
        if (shot)
            XDestroyImage(shot);
        fail("cannot read the picture of window " + std::to_string(w) +
             " (it must be viewable and lie on the screen)");
    }
    const int red = channel_shift(shot->red_mask);
    const int green = channel_shift(shot->green_mask);
    const int blue = channel_shift(shot->blue_mask);
    Image image{g.width, g.height, {}};
    image.pixels.reserve(static_cast<std::size_t>(g.width) * g.height);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) {
            const unsigned long p = XGetPixel(shot, x, y);
            image.pixels.push_back({static_cast<std::uint8_t>((p & shot->red_mask) >> red),
                                    static_cast<std::uint8_t>((p & shot->green_mask) >> green),
                                    static_cast<std::uint8_t>((p & shot->blue_mask) >> blue)});
        }
    XDestroyImage(shot);
    return image;
}

Image XServer::wait_for_image(Window w, const std::function<bool(const Image&)>& ready,
                              Millis timeout) const
{
    Image image;
    if (wait_until([&] { image = grab(w); return image.drawn() && (!ready || ready(image)); },
                   timeout))
        return image;
    // Kept in the build tree, beside ctest's own records, never where the test ran.
    std::error_code ignored;
    std::filesystem::create_directories(SKARVOLT_E2E_PICTURES, ignored);
    const std::string saved = std::string(SKARVOLT_E2E_PICTURES) + "/e2e-last-picture-" +
                              std::to_string(::getpid()) + ".ppm";
    image.save_ppm(saved);
    fail("the window never showed the expected picture; the last one is in " + saved);
}

Image XServer::settled_image(Window w, const std::function<bool(const Image&)>& ready,
                             Millis timeout) const
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const Millis left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
        const Image first = wait_for_image(w, ready, std::max(left, Millis{0}));
        std::this_thread::sleep_for(SETTLE_GAP);
        if (grab(w) == first)
            return first;
        if (Clock::now() >= deadline)
            fail("the window's picture kept changing");
    }
}

// ---------------------------------------------------------------- Sandbox

Sandbox::Sandbox() : scratch_("e2e"), home_(path("home"))
{
    if (::mkdir(home_.c_str(), 0755) != 0)
        fail(errno_text("mkdir " + home_));
}

// ---------------------------------------------------------------- Game

const char* game_binary()
{
    const char* chosen = std::getenv("SKARVOLT_E2E_GAME");
    return chosen && *chosen ? chosen : SKARVOLT_GAME_BINARY;
}

void write_seed(const std::string& path, std::uint64_t seed)
{
    test_support::write_file(path, std::string(reinterpret_cast<const char*>(&seed), sizeof seed));
}

namespace {

// Everything a game's start needs, worked out in the test process before the fork, so
// that the child has only system calls left to make.
struct Launch {
    std::string program;            // the link that is executed
    std::vector<std::string> args;  // argv, from argv[0]
    std::vector<std::string> env;
    std::vector<Bind> binds;        // made in a private mount namespace
    bool own_namespace = false;
    std::function<std::string()> in_namespace;
    std::optional<std::pair<uid_t, gid_t>> user;
    std::vector<int> closed;        // standard descriptors to close
    std::string out_path, err_path;
};

// The game binary as bin/NAME in the sandbox, so that its window title is NAME: a link,
// or for a game run as another user, who may not reach the build tree, a copy.
std::string link_program(const Sandbox& box, const std::string& name, bool copy)
{
    const std::string bin = box.path("bin");
    ::mkdir(bin.c_str(), 0755);
    const std::string program = bin + "/" + name;
    ::unlink(program.c_str());
    if (copy) {
        std::error_code error;
        std::filesystem::copy_file(game_binary(), program, error);
        if (error)
            fail("cannot copy the game to " + program + ": " + error.message());
        ::chmod(program.c_str(), 0755);
    } else if (::symlink(game_binary(), program.c_str()) != 0) {
        fail(errno_text("symlink " + program));
    }
    return program;
}

std::vector<std::string> arguments(const std::string& program, const GameOptions& options)
{
    std::vector<std::string> args{options.argv0.value_or(program)};
    args.insert(args.end(), options.args.begin(), options.args.end());
    return args;
}

// The game finds its home in the password database: the entry of the user it runs as
// points into the sandbox. Written as the sandbox's passwd and group files.
void write_password_entry(const Sandbox& box, const GameOptions& options)
{
    const test_support::PasswordEntry entry =
        options.user ? test_support::PasswordEntry{"player", options.user->first,
                                                   options.user->second, "player", box.home()}
                     : test_support::current_user(box.home());
    test_support::write_password_files(entry, box.path("passwd"), box.path("group"));
}

std::vector<std::string> environment(const Sandbox& box, const GameOptions& options,
                                     const XServer* server)
{
    std::vector<std::string> env{
        "PATH=/usr/local/bin:/usr/bin:/bin",
        "HOME=" + box.home(),
        "MESA_SHADER_CACHE_DISABLE=true",
        // An instrumented game (SKARVOLT_E2E_GAME) runs too: its sanitizer runtime
        // must come before nss_wrapper and cannot live with deep binding, and the GL
        // and window libraries keep allocations to the end of the process.
        "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0",
    };
    if (!options.passwd_bound) {
        const auto nss = test_support::nss_wrapper_environment(box.path("passwd"),
                                                               box.path("group"), options.preload);
        env.insert(env.end(), nss.begin(), nss.end());
        env.push_back("NSS_WRAPPER_DISABLE_DEEPBIND=1");
    }
    if (server)
        env.push_back("DISPLAY=" + server->name());
    // "NAME=value" sets a variable, "NAME" alone takes it away.
    for (const std::string& extra : options.env) {
        const bool set = extra.find('=') != std::string::npos;
        const std::string key = set ? extra.substr(0, extra.find('=') + 1) : extra + "=";
        std::erase_if(env, [&](const std::string& e) { return e.starts_with(key); });
        if (set)
            env.push_back(extra);
    }
    return env;
}

// The random device, the test's own mounts and the bound password files.
std::vector<Bind> binds(const Sandbox& box, const GameOptions& options)
{
    std::vector<Bind> binds;
    if (options.random == RandomDevice::File)
        binds.push_back({options.random_file, "/dev/random"});
    if (options.random == RandomDevice::Unopenable)
        binds.push_back(test_support::bind_remounted("/dev/random", "/dev/random", MS_NODEV));
    for (const BindMount& m : options.mounts)
        binds.push_back(m.read_only ? test_support::bind_remounted(m.source, m.target, MS_RDONLY)
                                    : Bind{m.source, m.target});
    if (options.passwd_bound) {
        binds.push_back({box.path("passwd"), "/etc/passwd"});
        binds.push_back({box.path("group"), "/etc/group"});
    }
    return binds;
}

// In the child: ends it with exit status 126 after saying what failed.
void check_step(const std::string& problem)
{
    if (problem.empty())
        return;
    child_say(problem.c_str(), nullptr);
    ::_exit(126);
}

// In the child: standard output and error go to the game's files.
void redirect_output(const Launch& launch)
{
    const int out = ::open(launch.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(launch.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    for (const int fd : {out, err})
        if (fd > 2)
            ::close(fd);
}

// In the child: the private mount namespace with its binds, and the test's own steps.
void enter_namespace(const Launch& launch)
{
    if (!launch.own_namespace)
        return;
    check_step(test_support::private_mounts());
    for (const Bind& bind : launch.binds)
        check_step(test_support::mount_bind(bind));
    if (launch.in_namespace)
        check_step(launch.in_namespace());
}

// Forks the game: the child takes its files, mounts and user, closes what the test
// wants closed and becomes the game.
pid_t start(const Launch& launch)
{
    std::vector<std::string> args = launch.args;
    std::vector<std::string> env = launch.env;
    auto argv = c_strings(args);
    auto envp = c_strings(env);
    const pid_t pid = fork_child(SIGKILL);
    if (pid != 0)
        return pid;
    redirect_output(launch);
    enter_namespace(launch);
    if (launch.user)
        check_step(test_support::become_user(launch.user->first, launch.user->second));
    for (const int fd : launch.closed)
        ::close(fd);
    // The game's quit signals act as for a player's game, whatever the test runner
    // ignores.
    for (const int quit : {SIGINT, SIGTERM, SIGHUP})
        ::signal(quit, SIG_DFL);
    ::execve(launch.program.c_str(), argv.data(), envp.data());
    child_fail("exec");
    ::_exit(127);
}

} // namespace

Game::Game(Sandbox& box, GameOptions options, XServer* server) : server_(server)
{
    static std::atomic<int> started{0};
    const std::string number = std::to_string(++started);
    const std::string name = !options.name.empty()
        ? options.name
        : "skarvolt-e2e-" + std::to_string(::getpid()) + "-" + number;

    Launch launch;
    launch.program = link_program(box, name, options.user.has_value());
    launch.args = arguments(launch.program, options);
    title_ = base_name(launch.args[0]);
    write_password_entry(box, options);
    launch.env = environment(box, options, server_);
    launch.binds = binds(box, options);
    launch.own_namespace = !launch.binds.empty() || options.in_namespace;
    if ((launch.own_namespace || options.user) && !test_support::private_mounts_available())
        fail("a private mount namespace or another user needs root");
    launch.in_namespace = options.in_namespace;
    launch.user = options.user;
    launch.closed = options.closed;
    launch.out_path = out_path_ = box.path("game" + number + ".out");
    launch.err_path = err_path_ = box.path("game" + number + ".err");
    pid_ = start(launch);
}

Game::~Game()
{
    kill();
}

std::string Game::out() const
{
    return file_text(out_path_);
}

std::string Game::err() const
{
    return file_text(err_path_);
}

Window Game::window(Millis timeout)
{
    if (window_)
        return *window_;
    if (!server_)
        fail("the game runs without a display");
    Window w = None;
    try {
        w = server_->find_window(title_, timeout, [&] { return !running(); });
    } catch (const std::runtime_error&) {
        if (running())
            throw;
        std::ostringstream why;
        why << "the game ended (" << *status_ << ") before its window showed; its errors: "
            << err();
        fail(why.str());
    }
    // Without a window manager the window opens at (-1, -1), a row and a column off
    // the screen, where its picture cannot be read.
    server_->move(w, 0, 0);
    const bool placed = wait_until(
        [&] {
            const Geometry g = server_->geometry(w);
            return g.x == 0 && g.y == 0 && g.viewable;
        },
        timeout);
    if (!placed)
        fail("window \"" + title_ + "\" did not move to (0, 0)");
    server_->focus(w);
    // The move may have left a column of the old place in the picture: the game draws
    // it all anew before anyone looks.
    server_->redraw(w);
    server_->wait_for_image(w, {}, timeout);
    window_ = w;
    return w;
}

std::optional<ExitStatus> Game::wait_exit(Millis timeout)
{
    if (status_ || pid_ <= 0)
        return status_;
    int raw = 0;
    if (!wait_until([&] { return ::waitpid(pid_, &raw, WNOHANG) == pid_; }, timeout))
        return std::nullopt;
    status_ = WIFEXITED(raw) ? ExitStatus{true, WEXITSTATUS(raw)}
                             : ExitStatus{false, WTERMSIG(raw)};
    return status_;
}

bool Game::running()
{
    return !wait_exit(Millis{0});
}

void Game::kill()
{
    if (pid_ <= 0 || status_)
        return;
    ::kill(pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = ExitStatus{false, SIGKILL};
}

} // namespace e2e
