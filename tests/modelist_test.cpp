// The setup dialog's mode list: which modes are offered, in which order and text, and which
// mode a selected line stands for.

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/ModeList.h"
#include "platform/SetupDialog.h"
#include "support/TestSupport.h"

namespace {

VideoMode rgb888(int width, int height, int hz) {
    return {width, height, 8, 8, 8, hz};
}
VideoMode rgb565(int width, int height, int hz) {
    return {width, height, 5, 6, 5, hz};
}

// Ascending by depth, then area, then refresh rate, as GLFW hands them over.
const std::vector<VideoMode> kMonitor = {
    rgb565(640, 480, 60),   rgb565(1920, 1080, 60),       rgb888(640, 480, 60),
    rgb888(1280, 720, 50),  rgb888(1280, 720, 60),        {1600, 900, 8, 8, 7, 60},
    rgb888(1920, 1080, 60), {2560, 1440, 10, 10, 10, 60},
};

} // namespace

TEST(ModeList, ListsOnlyEightBitModesLargestFirst) {
    const ModeList list = buildModeList(kMonitor.data(), static_cast<int>(kMonitor.size()));

    // 5-6-5, 8-8-7 and 10-10-10 modes are left out; the two 1280 x 720 rates give two lines.
    const std::vector<std::string> expected = {"1920 x 1080 60 Hz", "1280 x 720 60 Hz",
                                               "1280 x 720 50 Hz", "640 x 480 60 Hz"};
    EXPECT_EQ(list.lines, expected);
    // Walk positions from the back: element 6 is i = 1, element 4 is i = 3, ...
    EXPECT_EQ(list.indices, (std::vector<int>{1, 3, 4, 5}));
}

TEST(ModeList, EveryLineMapsBackToTheModeItShows) {
    const int count = static_cast<int>(kMonitor.size());
    const ModeList list = buildModeList(kMonitor.data(), count);
    ASSERT_EQ(list.lines.size(), list.indices.size());

    for (size_t line = 0; line < list.lines.size(); ++line) {
        VideoMode mode{};
        ASSERT_TRUE(modeForLine(list, static_cast<int>(line), kMonitor.data(), count, mode));
        char text[64];
        std::snprintf(text, sizeof text, "%d x %d %d Hz", mode.width, mode.height,
                      mode.refreshRate);
        EXPECT_EQ(list.lines[line], text) << "line " << line;
        EXPECT_EQ(mode.redBits + mode.greenBits + mode.blueBits, 24);
    }

    // Two rates of one size give the same window size.
    VideoMode at60{}, at50{};
    ASSERT_TRUE(modeForLine(list, 1, kMonitor.data(), count, at60));
    ASSERT_TRUE(modeForLine(list, 2, kMonitor.data(), count, at50));
    EXPECT_EQ(at60.width, at50.width);
    EXPECT_EQ(at60.height, at50.height);
    EXPECT_NE(at60.refreshRate, at50.refreshRate);
}

TEST(ModeList, NoLineNoModeWithoutAnEightBitMode) {
    const std::vector<VideoMode> only565 = {rgb565(640, 480, 60), rgb565(800, 600, 75)};
    const ModeList list = buildModeList(only565.data(), 2);
    EXPECT_TRUE(list.lines.empty());
    EXPECT_TRUE(list.indices.empty());

    // "start" with nothing selected must find no mode and leave the output alone.
    VideoMode mode{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(modeForLine(list, 0, only565.data(), 2, mode));
    EXPECT_FALSE(modeForLine(list, -1, only565.data(), 2, mode));
    EXPECT_EQ(mode.width, 1);

    EXPECT_TRUE(buildModeList(nullptr, 0).lines.empty());
    EXPECT_TRUE(buildModeList(only565.data(), -3).lines.empty());
}

TEST(ModeList, SelectionOutsideTheListIsRefused) {
    const int count = static_cast<int>(kMonitor.size());
    const ModeList list = buildModeList(kMonitor.data(), count);
    VideoMode mode{};
    EXPECT_FALSE(modeForLine(list, -1, kMonitor.data(), count, mode));
    EXPECT_FALSE(modeForLine(list, 4, kMonitor.data(), count, mode));
    // A list built for a longer array must not index past a shorter one.
    EXPECT_FALSE(modeForLine(list, 3, kMonitor.data(), 3, mode));
    EXPECT_FALSE(modeForLine(list, 0, nullptr, count, mode));
}

// The GTK dialog itself, on a private Xvfb, driven with xdotool from a second thread while
// the main thread sits in the modal loop.

namespace {

class PrivateXServer {
public:
    PrivateXServer() {
        if (std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0)
            return;
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", "-terminate", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        pollfd readable{fds[0], POLLIN, 0};
        while (pid_ > 0 && number.find('\n') == std::string::npos &&
               poll(&readable, 1, 10000) > 0) {
            char buffer[16];
            const ssize_t got = read(fds[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            number.append(buffer, static_cast<size_t>(got));
        }
        close(fds[0]);
        if (number.find('\n') != std::string::npos)
            display_ = ":" + number.substr(0, number.find('\n'));
    }
    ~PrivateXServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// One server and one GTK for the whole run: GTK binds to the first display it opens.
const std::string& dialogDisplay() {
    static PrivateXServer server;
    static const bool ready = [] {
        if (server.display().empty())
            return false;
        setenv("DISPLAY", server.display().c_str(), 1);
        return initGtkOnce();
    }();
    static const std::string none;
    return ready ? server.display() : none;
}

// Types `keys` into the dialog once it shows; `afterwards` runs when they are typed.
std::thread typeInto(const std::string& keys, const std::string& afterwards = "") {
    return std::thread([keys, afterwards] {
        // Separate calls: a "key" chained after "search" targets the found window, and
        // when that window goes away between press and release xdotool dies with the key
        // held down, which then auto-repeats into the next dialog.
        const std::string script =
            "w=$(timeout 10 xdotool search --sync --onlyvisible --name '^lumenfall$' | head -1)"
            " && timeout 10 xdotool windowfocus $w && sleep 0.3 &&"
            " timeout 10 xdotool key --delay 150 " +
            keys + " >/dev/null 2>&1" + (afterwards.empty() ? "" : "; " + afterwards);
        // A failed step shows in the dialog's outcome (or the watchdog), which the test checks.
        [[maybe_unused]] const int status = std::system(script.c_str());
    });
}

// Cancels any dialog still up after 20 s, so a lost key fails the test instead of hanging it.
struct Watchdog {
    std::atomic<bool> fired{false};
    guint source = 0;
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    Watchdog() {
        source = g_timeout_add_seconds(
            20,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<Watchdog*>(data);
                self->fired = true;
                GList* windows = gtk_window_list_toplevels();
                for (GList* w = windows; w != nullptr; w = w->next)
                    if (GTK_IS_DIALOG(w->data))
                        gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_CANCEL);
                g_list_free(windows);
                self->source = 0;
                return G_SOURCE_REMOVE;
            },
            this);
    }
    ~Watchdog() {
        if (source != 0)
            g_source_remove(source);
    }
};

const GLFWvidmode kDialogModes[] = {
    {640, 480, 5, 6, 5, 60},  {640, 480, 8, 8, 8, 60},   {1280, 720, 8, 8, 8, 50},
    {1280, 720, 8, 8, 8, 60}, {1920, 1080, 8, 8, 8, 60},
};

struct DialogRun {
    int result;
    DialogChoice choice;
    bool watchdogFired;
};

DialogRun runDialog(const std::string& keys, bool fullscreenDefault = true,
                    const GLFWvidmode* modes = kDialogModes, int count = 5,
                    const std::string& afterwards = "") {
    DialogRun run{-1, {}, false};
    run.choice.fullscreen = fullscreenDefault;
    Watchdog watchdog;
    std::thread driver = typeInto(keys, afterwards);
    run.result = runSetupDialog("lumenfall", modes, count, run.choice);
    driver.join();
    run.watchdogFired = watchdog.fired;
    return run;
}

} // namespace

TEST(SetupDialog, KeyboardChoosesModeAndWindow) {
    if (dialogDisplay().empty())
        LUMENFALL_SKIP_OR_FAIL("no Xvfb or xdotool");
    struct Case {
        const char* keys;
        bool fullscreenDefault;
        int result, width, height;
        bool fullscreen;
    };
    const Case cases[] = {
        // Enter at once: the first line (largest 8-8-8 mode), full screen.
        {"Return", true, 1, 1920, 1080, true},
        // "start" has the focus: Space presses it.
        {"space", true, 1, 1920, 1080, true},
        // Enter while the mode list has the focus starts with the line chosen there.
        {"Tab Down Down Return", true, 1, 1280, 720, true},
        // Tab, Tab reaches "fullscreen"; Space unchecks it; Enter there still starts.
        {"Tab Tab space Return", true, 1, 1920, 1080, false},
        // The box starts as the caller says.
        {"Return", false, 1, 1920, 1080, false},
        // Escape, and "cancel" (Shift+Tab from "start"), leave the choice alone.
        {"Escape", true, 0, 0, 0, true},
        {"shift+Tab Return", true, 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        const DialogRun run = runDialog(c.keys, c.fullscreenDefault);
        SCOPED_TRACE(c.keys);
        EXPECT_FALSE(run.watchdogFired) << "the dialog ignored the keys";
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(run.choice.width, c.width);
        EXPECT_EQ(run.choice.height, c.height);
        EXPECT_EQ(run.choice.fullscreen, c.fullscreen);
    }
}

TEST(SetupDialog, CloseBoxCancels) {
    if (dialogDisplay().empty())
        LUMENFALL_SKIP_OR_FAIL("no Xvfb or xdotool");
    // What a window manager sends for the close box; GTK answers it like Escape.
    std::atomic<bool> sent{false};
    DialogChoice choice;
    Watchdog watchdog;
    g_timeout_add(
        500,
        [](gpointer data) -> gboolean {
            GList* windows = gtk_window_list_toplevels();
            for (GList* w = windows; w != nullptr; w = w->next) {
                if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data))) {
                    GdkEvent* event = gdk_event_new(GDK_DELETE);
                    event->any.window =
                        GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(w->data))));
                    gtk_main_do_event(event);
                    gdk_event_free(event);
                    static_cast<std::atomic<bool>*>(data)->store(true);
                }
            }
            g_list_free(windows);
            return G_SOURCE_REMOVE;
        },
        &sent);
    EXPECT_EQ(runSetupDialog("lumenfall", kDialogModes, 5, choice), 0);
    EXPECT_TRUE(sent.load());
    EXPECT_FALSE(watchdog.fired);
    EXPECT_EQ(choice.width, 0);
}

TEST(SetupDialog, NoEightBitModeKeepsStartFromProceeding) {
    if (dialogDisplay().empty())
        LUMENFALL_SKIP_OR_FAIL("no Xvfb or xdotool");
    const GLFWvidmode only565[] = {{640, 480, 5, 6, 5, 60}, {800, 600, 5, 6, 5, 60}};
    // Enter must not start; the dialog must still be up for Escape to cancel it.
    const std::string artifacts = std::string(LUMENFALL_BINARY_DIR) + "/artifacts";
    const std::string afterwards =
        "mkdir -p '" + artifacts + "' && import -window root '" + artifacts +
        "/dialog-no-modes.png' >/dev/null 2>&1; timeout 10 xdotool search --onlyvisible "
        "--name '^lumenfall$' >/dev/null && timeout 10 xdotool key Escape >/dev/null 2>&1";
    // "cancel" has the focus here; Shift+Tab moves it to the check box, where Enter would
    // otherwise start.
    const DialogRun run = runDialog("shift+Tab Return", true, only565, 2, afterwards);
    EXPECT_FALSE(run.watchdogFired) << "Escape did not reach the dialog";
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.choice.width, 0);
    EXPECT_EQ(run.choice.height, 0);
}
