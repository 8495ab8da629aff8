// Watching a recording (--play): a session of three runs played through XTest with
// --record, then watched in the window. At every crash the viewer shows the very picture
// the game showed, however often the window was exposed or resized on the way; pause,
// step, jumps, speed and run to run are checked by what the window shows.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <X11/Xlib.h>

#include "harness.h"
#include "picture.h"
#include "quit.h"
#include "support/files.h"

namespace {

using e2e::Game;
using e2e::Image;
using e2e::Sandbox;
using e2e::XServer;

bool shows_crash(const Image& image)
{
    return e2e::shows_burst(image, 0, image.height);
}

// The viewer's window, whose title begins with the file's name: moved to (0, 0) and
// given the focus, as Game::window does for the game's.
Window viewer_window(XServer& x, const std::string& file)
{
    Window found = None;
    const bool shown = e2e::wait_until([&] {
        Window root = None, parent = None, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(x.display(), DefaultRootWindow(x.display()), &root, &parent, &children,
                        &count))
            return false;
        for (unsigned i = 0; i < count && found == None; ++i)
            if (x.title(children[i]).starts_with(file + ": ") && x.geometry(children[i]).viewable)
                found = children[i];
        if (children != nullptr)
            XFree(children);
        return found != None;
    });
    if (!shown)
        throw std::runtime_error("no viewer's window for " + file);
    x.move(found, 0, 0);
    e2e::wait_until([&] {
        const e2e::Geometry g = x.geometry(found);
        return g.x == 0 && g.y == 0;
    });
    x.focus(found);
    return found;
}

void expect_title(XServer& x, Window w, const std::string& title)
{
    EXPECT_TRUE(e2e::wait_until([&] { return x.title(w) == title; }))
        << "the title is \"" << x.title(w) << "\", not \"" << title << "\"";
}

// The title ends with the speed, whichever run is shown.
void expect_speed(XServer& x, Window w, const std::string& speed)
{
    EXPECT_TRUE(e2e::wait_until([&] { return x.title(w).ends_with(", " + speed); }))
        << "the title is \"" << x.title(w) << "\", not at " << speed;
}

// The settled picture equals `want`; two that differ are kept for a look, in the build
// tree beside ctest's own records.
void expect_picture(XServer& x, Window w, const Image& want, const std::string& what,
                    const std::function<bool(const Image&)>& ready = {})
{
    const Image got = x.settled_image(w, ready);
    if (got == want)
        return;
    std::error_code ignored;
    std::filesystem::create_directories(SKARVOLT_E2E_PICTURES, ignored);
    const std::string saved = std::string(SKARVOLT_E2E_PICTURES) + "/play-" + what;
    got.save_ppm(saved + "-shown.ppm");
    want.save_ppm(saved + "-wanted.ppm");
    ADD_FAILURE() << what << ": the picture differs; both are in " << saved << "-*.ppm";
}

// Plays a run through XTest: pressed in the middle, held for `hold`, let go; the settled
// crash picture.
Image play_run(XServer& x, Window w, std::chrono::milliseconds hold)
{
    x.press(200, 150);
    x.wait_for_image(w, [](const Image& i) { return !shows_crash(i); });
    std::this_thread::sleep_for(hold);
    x.release();
    return x.settled_image(w, shows_crash);
}

TEST(Watching, ARecordedSessionShowsTheGamesPicturesAndObeysTheViewersKeys)
{
    XServer x;
    Sandbox box;
    const std::string file = "three.rec";
    const std::string recording = box.path(file);

    // Three runs: held out of the top, let fall at once, held a little then let fall.
    std::vector<Image> crashes;
    {
        Game game(box, {.args = {"--record", recording}}, &x);
        const Window w = game.window();
        x.settled_image(w, e2e::shows_text);
        crashes.push_back(e2e::held_run_crash(x, game, box));
        x.release();
        // Another game's better score, saved meanwhile, shows over the next crashes; the
        // viewer, which reads no score file, must show it too.
        test_support::write_file(box.score_file(), "300\n");
        crashes.push_back(play_run(x, w, std::chrono::milliseconds(0)));
        crashes.push_back(play_run(x, w, std::chrono::milliseconds(150)));
        x.key("q");
        ASSERT_TRUE(game.wait_exit());
    }
    const std::string text = test_support::read_file(recording).value_or("");
    ASSERT_TRUE(text.starts_with(e2e::RECORDING_HEADER)) << text;

    Game viewer(box, {.args = {"--play", recording}}, &x);
    const Window w = viewer_window(x, file);
    // At half speed each crash stays two seconds before the next run starts.
    x.key("Down");
    expect_title(x, w, file + ": before the first run, 1/2x");
    for (std::size_t run = 0; run < crashes.size(); ++run) {
        const std::string name = "crash-" + std::to_string(run + 1);
        x.wait_for_image(w, shows_crash, std::chrono::seconds(20));
        x.key("space");
        expect_title(x, w, file + ": run " + std::to_string(run + 1) + " of 3, paused");
        expect_picture(x, w, crashes[run], name, shows_crash);
        if (run == 0) {
            // The viewer's own redraws over a crash take nothing from the session: the
            // picture stays, and so do the crashes to come.
            x.redraw(w);
            expect_picture(x, w, crashes[run], name + "-exposed", shows_crash);
            x.resize(w, 300, 200);
            x.wait_for_image(w, [](const Image& i) { return i.width == 300; });
            x.resize(w, 400, 300);
            expect_picture(x, w, crashes[run], name + "-resized",
                           [](const Image& i) { return i.width == 400 && shows_crash(i); });
            // The mouse does nothing.
            x.press(200, 150);
            x.release();
            expect_picture(x, w, crashes[run], name + "-clicked", shows_crash);
            expect_title(x, w, file + ": run 1 of 3, paused");
        }
        x.key("space");
        // On past the crash to the next run.
        if (run + 1 < crashes.size())
            x.wait_for_image(w, [](const Image& i) { return !shows_crash(i); },
                             std::chrono::seconds(20));
    }
    // The last frame stays.
    expect_title(x, w, file + ": run 3 of 3, ended");
    expect_picture(x, w, crashes[2], "ended", shows_crash);

    // A jump back and forth lands on the same pictures, at the end on the crash again.
    x.key("space");
    expect_title(x, w, file + ": run 3 of 3, paused");
    const auto not_the_end = [&](const Image& i) { return !(i == crashes[2]); };
    x.key("Left");
    const Image back = x.settled_image(w, not_the_end);
    x.key("Right");
    expect_picture(x, w, crashes[2], "end-again", shows_crash);
    x.key("Left");
    expect_picture(x, w, back, "back-again", not_the_end);

    // Run to run: Page Up goes to the start of the run shown, or to the run before
    // within the run's first second or when pressed again at once; Home is the title
    // screen.
    x.key("Right");
    expect_title(x, w, file + ": run 3 of 3, paused");
    x.key("Home");
    x.key("Next");
    x.key("Next");
    expect_title(x, w, file + ": run 2 of 3, paused");
    x.key("Prior");
    expect_title(x, w, file + ": run 1 of 3, paused");
    x.key("Next");
    // Past run 2's first second, to the crash it shows (it falls at once), and a second
    // after the last Page Up.
    for (int step = 0; step < 90; ++step)
        x.key("period");
    x.settled_image(w, shows_crash);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    x.key("Prior");
    expect_title(x, w, file + ": run 2 of 3, paused");
    x.settled_image(w, [](const Image& i) { return !shows_crash(i); });
    x.key("Prior");
    expect_title(x, w, file + ": run 1 of 3, paused");
    x.key("Next");
    expect_title(x, w, file + ": run 2 of 3, paused");
    x.key("Home");
    expect_title(x, w, file + ": before the first run, paused");
    x.settled_image(w, [](const Image& i) { return e2e::shows_text(i) && !e2e::shows_run(i); });

    // A paused tick, stepped to, shows what a recording that ends on that tick shows: the
    // game as the simulator leaves it there.
    x.key("Next");
    for (int step = 0; step < 20; ++step)
        x.key("period");
    const Image stepped = x.settled_image(w, e2e::shows_run);
    {
        const std::size_t first_press = text.find("\npress\n");
        ASSERT_NE(first_press, std::string::npos);
        // A name beyond ASCII shows in the title as the file manager shows it.
        const std::string cut = box.path("cut-\u00fcber.rec");
        test_support::write_file(cut, text.substr(0, first_press + 7) + "tick 20\n");
        Game cut_viewer(box, {.args = {"--play", cut}}, &x);
        const Window cw = viewer_window(x, "cut-\u00fcber.rec");
        expect_title(x, cw, "cut-\u00fcber.rec: run 1 of 1, ended");
        expect_picture(x, cw, stepped, "stepped", e2e::shows_run);
        x.focus(w);
    }

    // The speed: from 1/4 to 16 times, and no further either way.
    x.key("space");
    for (int i = 0; i < 4; ++i)
        x.key("minus");
    expect_speed(x, w, "1/4x");
    for (int i = 0; i < 8; ++i)
        x.key("Up");
    expect_speed(x, w, "16x");

    e2e::quit(x, viewer);
    EXPECT_EQ(viewer.err(), "");
}

// A file that is no recording stops the game before any window opens.
// Refused in one line, with status 2, before any window: a file cut short, one larger
// than any recording (a gigabyte once took a minute and 4 GB before the window showed)
// and one that asks for more work than any.
TEST(Watching, AFileThatIsNoRecordingIsRefusedAtItsLine)
{
    Sandbox box;
    const std::string cut = box.path("cut.rec");
    test_support::write_file(cut, e2e::RECORDING_HEADER + "seed 3\npress\ntick 1");
    const std::string huge = box.path("huge.rec");
    test_support::write_file(huge, e2e::RECORDING_HEADER + "seed 3\n");
    ASSERT_EQ(::truncate(huge.c_str(), off_t{1} << 30), 0);
    const std::string endless = box.path("endless.rec");
    test_support::write_file(endless, e2e::RECORDING_HEADER + "seed 3\npress\ntick 20000001\n");
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {cut, "skarvolt: " + cut +
                  ": line 4: the last line has no line feed: the recording was cut short\n"},
        {huge, "skarvolt: cannot play " + huge +
                   ": larger than 64 MiB, more than any recording holds\n"},
        {endless, "skarvolt: " + endless +
                      ": line 4: asks for more than 20000000 ticks of play by here (a frame "
                      "counts 720)\n"},
    };
    for (const auto& c : cases) {
        Game game(box, {.args = {"--play", c.path}}); // no DISPLAY
        const auto status = game.wait_exit();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->code, 2);
        EXPECT_EQ(game.err(), c.error);
    }
}

} // namespace
