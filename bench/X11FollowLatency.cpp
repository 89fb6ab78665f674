// Window moved to panel moved, on a running X11 session: moves a window (as a user's drag
// ends up asking the window manager) and times until another window (the app's panel) has
// moved too, by asking the X server for the panel's place in a tight loop.
// Usage: x11-follow-latency WINDOW PANEL [SAMPLES]   (window ids, decimal or 0x hex)
// Prints one line per sample in milliseconds, then the median and the 99th percentile.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

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

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: x11-follow-latency WINDOW PANEL [SAMPLES]\n", stderr);
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
    std::printf("median %.3f ms, p99 %.3f ms over %d moves\n", percentile(latencies, 0.5),
                percentile(latencies, 0.99), samples);
    xcb_disconnect(connection);
    return 0;
}
