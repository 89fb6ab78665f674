// Latencies of the app's panel on a running X11 session, timed by asking the X server about
// the panel in a tight loop:
//   x11-follow-latency WINDOW PANEL [SAMPLES]
//       window moved to panel moved: moves a window (as a user's drag ends up asking the window
//       manager) and times until the panel has moved too;
//   x11-follow-latency --keys PANEL [SAMPLES]
//       selection in the file manager to panel shown: presses Escape in the focused file
//       manager (no selection), waits for the panel to go, then presses Left or Right in turn
//       (one item selected, the neighbour of the current one) and times from the key press
//       until the panel is mapped again. The current item needs a neighbour on its left.
//   x11-follow-latency --selection FILE PATH PANEL [SAMPLES]
//       selection told to panel shown: the same through the selection file a scripted session
//       gives the app instead of the file manager (the app's share of a selection): empties
//       it, waits for the panel to go, writes PATH into it and times until the panel is mapped.
// Window ids are decimal or 0x hex. Prints one line per sample in milliseconds, then the median
// and the 99th percentile.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <xcb/xcb.h>
// Key presses go through the XTEST extension, which Xlib wraps.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Place {
    int x = 0;
    int y = 0;
    friend bool operator==(const Place&, const Place&) = default;
};

std::optional<Place> placeOf(xcb_connection_t* connection, xcb_window_t window, xcb_window_t root) {
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr);
    if (reply == nullptr) {
        return std::nullopt;
    }
    const Place place{reply->dst_x, reply->dst_y};
    std::free(reply);
    return place;
}

bool isMapped(xcb_connection_t* connection, xcb_window_t window) {
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr);
    const bool mapped = reply != nullptr && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return mapped;
}

void writeSelection(const std::string& file, const std::string& path) {
    // Written beside and moved into place, as the app reads the file when it changes.
    const std::string temporary = file + ".new";
    std::ofstream(temporary) << path << '\n';
    std::rename(temporary.c_str(), file.c_str());
}

// Waits up to ten seconds for `done` (a view of thousands of items takes seconds to read);
// answers whether it came.
template <typename Done> bool waitFor(Done done) {
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(10)) {
        if (done()) {
            return true;
        }
    }
    return false;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

} // namespace

void report(const std::vector<double>& latencies) {
    std::printf("median %.3f ms, p99 %.3f ms over %zu samples\n", percentile(latencies, 0.5),
                percentile(latencies, 0.99), latencies.size());
}

// A key pressed and released, as a person types it; sent when this returns.
void tap(Display* display, KeySym key) {
    const KeyCode code = XKeysymToKeycode(display, key);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XFlush(display);
}

int keySelectionLatency(xcb_connection_t* connection, xcb_window_t panel, int samples) {
    Display* display = XOpenDisplay(nullptr);
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (display == nullptr || XTestQueryExtension(display, &event, &error, &major, &minor) == 0) {
        std::fputs("x11-follow-latency: no XTEST extension on the display\n", stderr);
        if (display != nullptr) {
            XCloseDisplay(display);
        }
        return 1;
    }
    std::vector<double> latencies;
    int status = 0;
    for (int sample = 0; sample < samples && status == 0; ++sample) {
        // The file manager tells of a cleared selection only by its status bar, which it
        // updates 0.3 s after the last change: an Escape sooner than that would change nothing
        // the app can see.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        tap(display, XK_Escape);
        if (!waitFor([&] { return !isMapped(connection, panel); })) {
            std::fputs("x11-follow-latency: the panel stayed with no selection\n", stderr);
            status = 1;
            break;
        }
        // Past the file manager's own reaction and the app's coalescing of it.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Clock::time_point pressed = Clock::now();
        tap(display, sample % 2 == 0 ? XK_Left : XK_Right);
        if (!waitFor([&] { return isMapped(connection, panel); })) {
            std::fprintf(stderr, "x11-follow-latency: the panel did not come (sample %d)\n",
                         sample);
            status = 1;
            break;
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - pressed).count());
        std::printf("%.3f\n", latencies.back());
    }
    XCloseDisplay(display);
    if (status == 0) {
        report(latencies);
    }
    return status;
}

int selectionLatency(xcb_connection_t* connection, const std::string& file, const std::string& path,
                     xcb_window_t panel, int samples) {
    std::vector<double> latencies;
    for (int sample = 0; sample < samples; ++sample) {
        writeSelection(file, "");
        if (!waitFor([&] { return !isMapped(connection, panel); })) {
            std::fputs("x11-follow-latency: the panel stayed with no selection\n", stderr);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const Clock::time_point told = Clock::now();
        writeSelection(file, path);
        if (!waitFor([&] { return isMapped(connection, panel); })) {
            std::fputs("x11-follow-latency: the panel did not come\n", stderr);
            return 1;
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - told).count());
        std::printf("%.3f\n", latencies.back());
    }
    report(latencies);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--keys") {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection) != 0) {
            std::fputs("x11-follow-latency: no X display\n", stderr);
            return 1;
        }
        const int status = keySelectionLatency(
            connection, static_cast<xcb_window_t>(std::stoul(argv[2], nullptr, 0)),
            argc > 3 ? std::stoi(argv[3]) : 50);
        xcb_disconnect(connection);
        return status;
    }
    if (argc >= 5 && std::string(argv[1]) == "--selection") {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection) != 0) {
            std::fputs("x11-follow-latency: no X display\n", stderr);
            return 1;
        }
        const int status =
            selectionLatency(connection, argv[2], argv[3],
                             static_cast<xcb_window_t>(std::stoul(argv[4], nullptr, 0)),
                             argc > 5 ? std::stoi(argv[5]) : 50);
        xcb_disconnect(connection);
        return status;
    }
    if (argc < 3) {
        std::fputs("usage: x11-follow-latency WINDOW PANEL [SAMPLES]\n"
                   "       x11-follow-latency --keys PANEL [SAMPLES]\n"
                   "       x11-follow-latency --selection FILE PATH PANEL [SAMPLES]\n",
                   stderr);
        return 2;
    }
    const auto window = static_cast<xcb_window_t>(std::stoul(argv[1], nullptr, 0));
    const auto panel = static_cast<xcb_window_t>(std::stoul(argv[2], nullptr, 0));
    const int samples = argc > 3 ? std::stoi(argv[3]) : 50;

    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fputs("x11-follow-latency: no X display\n", stderr);
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const auto start = placeOf(connection, window, root);
    if (!start || !placeOf(connection, panel, root)) {
        std::fputs("x11-follow-latency: no such windows\n", stderr);
        return 1;
    }

    std::vector<double> latencies;
    for (int sample = 0; sample < samples; ++sample) {
        const auto before = placeOf(connection, panel, root);
        // Back and forth by 40 pixels, so the panel always has room beside the window.
        const std::uint32_t place[] = {
            static_cast<std::uint32_t>(start->x - (sample % 2 == 0 ? 40 : 0)),
            static_cast<std::uint32_t>(start->y)};
        const Clock::time_point moved = Clock::now();
        xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
        xcb_flush(connection);
        bool followed = false;
        while (Clock::now() - moved < std::chrono::seconds(2)) {
            const auto now = placeOf(connection, panel, root);
            if (now && now != before) {
                followed = true;
                break;
            }
        }
        const double milliseconds =
            std::chrono::duration<double, std::milli>(Clock::now() - moved).count();
        if (!followed) {
            std::fprintf(stderr, "x11-follow-latency: the panel did not follow (sample %d)\n",
                         sample);
            return 1;
        }
        latencies.push_back(milliseconds);
        std::printf("%.3f\n", milliseconds);
        // Let the drag poll see the window stand still and end before the next move.
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    report(latencies);
    xcb_disconnect(connection);
    return 0;
}
