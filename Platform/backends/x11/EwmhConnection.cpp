#include "Platform/backends/x11/EwmhConnection.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace scrivlet::x11 {

namespace {

// Replies are malloc'ed by xcb and freed by their reader.
template <typename Reply> struct Freed {
    Reply* reply = nullptr;
    explicit Freed(Reply* owned) : reply(owned) {}
    ~Freed() { std::free(reply); }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    Reply* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

} // namespace

struct EwmhConnection::State {
    xcb_connection_t* connection = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    xcb_window_t root = XCB_NONE;
    std::vector<std::pair<xcb_atom_t, std::string>> typeNames;
    // Frames (the window manager's parents) mapped to the clients they hold, so a move of the
    // frame reports its client.
    std::map<xcb_window_t, xcb_window_t> clientOfFrame;
    std::set<xcb_window_t> watched;

    ~State() {
        if (ewmhReady) {
            xcb_ewmh_connection_wipe(&ewmh);
        }
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
    }

    void watch(xcb_window_t window) {
        if (!watched.insert(window).second) {
            return;
        }
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
    }

    void watchFrame(xcb_window_t frame, xcb_window_t client) {
        if (frame == root || frame == XCB_NONE) {
            return;
        }
        clientOfFrame[frame] = client;
        if (watched.insert(frame).second) {
            const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(connection, frame, XCB_CW_EVENT_MASK, &mask);
        }
    }

    xcb_window_t clientOf(xcb_window_t window) const {
        const auto found = clientOfFrame.find(window);
        return found == clientOfFrame.end() ? window : found->second;
    }

    void handle(xcb_generic_event_t* event, Changes& changes) {
        switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (notify->window == root) {
                changes.clientList = changes.clientList ||
                                     notify->atom == ewmh._NET_CLIENT_LIST_STACKING ||
                                     notify->atom == ewmh._NET_CLIENT_LIST;
                changes.activeWindow =
                    changes.activeWindow || notify->atom == ewmh._NET_ACTIVE_WINDOW;
                changes.currentDesktop =
                    changes.currentDesktop || notify->atom == ewmh._NET_CURRENT_DESKTOP;
            } else if (notify->atom == ewmh._NET_WM_STATE ||
                       notify->atom == ewmh._NET_FRAME_EXTENTS ||
                       notify->atom == ewmh._NET_WM_DESKTOP ||
                       notify->atom == ewmh._NET_WM_WINDOW_TYPE) {
                changes.windows.insert(clientOf(notify->window));
            }
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            // Where the notice says the window is does not matter: after a resize it counts from
            // the frame, after a move the window manager's copy counts from the root. The
            // client is described afresh either way.
            const auto* notify = reinterpret_cast<xcb_configure_notify_event_t*>(event);
            changes.windows.insert(clientOf(notify->window));
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto* notify = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
            changes.windows.insert(clientOf(notify->window));
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            const auto* notify = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
            watched.erase(notify->window);
            clientOfFrame.erase(notify->window);
            break;
        }
        default:
            break;
        }
    }
};

EwmhConnection::EwmhConnection(std::unique_ptr<State> state) : state_(std::move(state)) {}

EwmhConnection::~EwmhConnection() = default;

std::unique_ptr<EwmhConnection> EwmhConnection::open(const char* displayName, std::string& error) {
    if (displayName == nullptr || *displayName == '\0') {
        error = "the X11 desktop needs an X11 display, and DISPLAY is not set";
        return nullptr;
    }
    auto state = std::make_unique<State>();
    int screenNumber = 0;
    state->connection = xcb_connect(displayName, &screenNumber);
    if (xcb_connection_has_error(state->connection) != 0) {
        error = std::string("cannot open the X11 display ") + displayName;
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(state->connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        error = std::string("the X11 display ") + displayName + " has no such screen";
        return nullptr;
    }
    state->root = screens.data->root;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(state->connection, &state->ewmh);
    if (xcb_ewmh_init_atoms_replies(&state->ewmh, cookies, nullptr) == 0) {
        error = "the X11 display does not answer the window manager's atoms";
        return nullptr;
    }
    state->ewmhReady = true;
    const xcb_ewmh_connection_t& e = state->ewmh;
    state->typeNames = {
        {e._NET_WM_WINDOW_TYPE_NORMAL, "_NET_WM_WINDOW_TYPE_NORMAL"},
        {e._NET_WM_WINDOW_TYPE_DIALOG, "_NET_WM_WINDOW_TYPE_DIALOG"},
        {e._NET_WM_WINDOW_TYPE_UTILITY, "_NET_WM_WINDOW_TYPE_UTILITY"},
        {e._NET_WM_WINDOW_TYPE_TOOLBAR, "_NET_WM_WINDOW_TYPE_TOOLBAR"},
        {e._NET_WM_WINDOW_TYPE_MENU, "_NET_WM_WINDOW_TYPE_MENU"},
        {e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU"},
        {e._NET_WM_WINDOW_TYPE_POPUP_MENU, "_NET_WM_WINDOW_TYPE_POPUP_MENU"},
        {e._NET_WM_WINDOW_TYPE_SPLASH, "_NET_WM_WINDOW_TYPE_SPLASH"},
        {e._NET_WM_WINDOW_TYPE_DOCK, "_NET_WM_WINDOW_TYPE_DOCK"},
        {e._NET_WM_WINDOW_TYPE_DESKTOP, "_NET_WM_WINDOW_TYPE_DESKTOP"},
        {e._NET_WM_WINDOW_TYPE_NOTIFICATION, "_NET_WM_WINDOW_TYPE_NOTIFICATION"},
        {e._NET_WM_WINDOW_TYPE_TOOLTIP, "_NET_WM_WINDOW_TYPE_TOOLTIP"},
    };
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(state->connection, state->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(state->connection);
    return std::unique_ptr<EwmhConnection>(new EwmhConnection(std::move(state)));
}

int EwmhConnection::fileDescriptor() const {
    return xcb_get_file_descriptor(state_->connection);
}

bool EwmhConnection::hasFailed() const {
    return xcb_connection_has_error(state_->connection) != 0;
}

EwmhConnection::Changes EwmhConnection::drain(bool queuedOnly) {
    Changes changes;
    while (xcb_generic_event_t* event = queuedOnly ? xcb_poll_for_queued_event(state_->connection)
                                                   : xcb_poll_for_event(state_->connection)) {
        state_->handle(event, changes);
        std::free(event);
    }
    return changes;
}

std::vector<std::uint32_t> EwmhConnection::stacking() {
    xcb_ewmh_get_windows_reply_t reply{};
    std::vector<std::uint32_t> windows;
    if (xcb_ewmh_get_client_list_stacking_reply(&state_->ewmh,
                                                xcb_ewmh_get_client_list_stacking(&state_->ewmh, 0),
                                                &reply, nullptr) != 0) {
        windows.assign(reply.windows, reply.windows + reply.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&reply);
    }
    return windows;
}

std::optional<std::uint32_t> EwmhConnection::activeWindow() {
    xcb_window_t window = XCB_NONE;
    if (xcb_ewmh_get_active_window_reply(
            &state_->ewmh, xcb_ewmh_get_active_window(&state_->ewmh, 0), &window, nullptr) == 0 ||
        window == XCB_NONE) {
        return std::nullopt;
    }
    return window;
}

std::optional<std::string> EwmhConnection::gtkWindowObjectPath(std::uint32_t window) {
    xcb_connection_t* c = state_->connection;
    static constexpr std::string_view name = "_GTK_WINDOW_OBJECT_PATH";
    // only_if_exists: a server where no GTK window ever set it answers XCB_NONE.
    Freed atom(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    if (!atom || atom->atom == XCB_NONE) {
        return std::nullopt;
    }
    Freed property(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
    if (!property) {
        return std::nullopt;
    }
    const int length = xcb_get_property_value_length(property.reply);
    if (length <= 0) {
        return std::nullopt;
    }
    return std::string(static_cast<const char*>(xcb_get_property_value(property.reply)),
                       static_cast<std::size_t>(length));
}

std::optional<std::uint32_t> EwmhConnection::currentDesktop() {
    std::uint32_t desktop = 0;
    if (xcb_ewmh_get_current_desktop_reply(&state_->ewmh,
                                           xcb_ewmh_get_current_desktop(&state_->ewmh, 0), &desktop,
                                           nullptr) == 0) {
        return std::nullopt;
    }
    return desktop;
}

std::vector<MonitorRecord> EwmhConnection::monitors() {
    xcb_connection_t* c = state_->connection;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_randr_id);
    if (extension == nullptr || extension->present == 0) {
        return {};
    }
    // Monitors came with RandR 1.5; an older server answers the request with an error.
    xcb_randr_query_version_reply_t* version = xcb_randr_query_version_reply(
        c, xcb_randr_query_version(c, XCB_RANDR_MAJOR_VERSION, XCB_RANDR_MINOR_VERSION), nullptr);
    const bool hasMonitors =
        version != nullptr && (version->major_version > 1 ||
                               (version->major_version == 1 && version->minor_version >= 5));
    std::free(version);
    if (!hasMonitors) {
        return {};
    }
    xcb_randr_get_monitors_reply_t* reply =
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, state_->root, 1), nullptr);
    if (reply == nullptr) {
        return {};
    }
    std::vector<MonitorRecord> found;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t& info = *it.data;
        if (info.width > 0 && info.height > 0) {
            found.push_back({CGRect(info.x, info.y, info.width, info.height), info.primary != 0});
        }
    }
    std::free(reply);
    return found;
}

std::optional<CGRect> EwmhConnection::workArea() {
    const std::optional<std::uint32_t> desktop = currentDesktop();
    xcb_ewmh_get_workarea_reply_t areas{};
    if (xcb_ewmh_get_workarea_reply(&state_->ewmh, xcb_ewmh_get_workarea(&state_->ewmh, 0), &areas,
                                    nullptr) == 0) {
        return std::nullopt;
    }
    std::optional<CGRect> area;
    const std::uint32_t index = desktop.value_or(0);
    if (index < areas.workarea_len) {
        const xcb_ewmh_geometry_t& geometry = areas.workarea[index];
        area = CGRect(geometry.x, geometry.y, geometry.width, geometry.height);
    }
    xcb_ewmh_get_workarea_reply_wipe(&areas);
    return area;
}

std::vector<ClientWindow> EwmhConnection::describe(const std::vector<std::uint32_t>& windows) {
    xcb_connection_t* c = state_->connection;
    xcb_ewmh_connection_t* e = &state_->ewmh;
    struct Cookies {
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_query_tree_cookie_t tree;
        xcb_get_property_cookie_t pid, windowClass, type, extents, wmState, desktop;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (const std::uint32_t window : windows) {
        state_->watch(window);
        cookies.push_back(
            {xcb_get_geometry(c, window), xcb_translate_coordinates(c, window, state_->root, 0, 0),
             xcb_query_tree(c, window), xcb_ewmh_get_wm_pid(e, window),
             xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
             xcb_ewmh_get_wm_window_type(e, window), xcb_ewmh_get_frame_extents(e, window),
             xcb_ewmh_get_wm_state(e, window), xcb_ewmh_get_wm_desktop(e, window)});
    }
    std::vector<ClientWindow> described;
    described.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Cookies& cookie = cookies[i];
        ClientWindow window;
        window.id = windows[i];
        Freed geometry(xcb_get_geometry_reply(c, cookie.geometry, nullptr));
        Freed origin(xcb_translate_coordinates_reply(c, cookie.origin, nullptr));
        Freed tree(xcb_query_tree_reply(c, cookie.tree, nullptr));
        if (tree) {
            state_->watchFrame(tree->parent, window.id);
        }
        std::uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(e, cookie.pid, &pid, nullptr) != 0 && pid > 0) {
            window.pid = static_cast<pid_t>(pid);
        }
        if (Freed windowClass(xcb_get_property_reply(c, cookie.windowClass, nullptr));
            windowClass) {
            const auto* bytes = static_cast<const char*>(xcb_get_property_value(windowClass.reply));
            const int length = xcb_get_property_value_length(windowClass.reply);
            // Two strings, each ended by a NUL: the instance and the class.
            const std::string both(bytes, static_cast<std::size_t>(std::max(length, 0)));
            const std::size_t split = both.find('\0');
            window.instanceName = both.substr(0, split);
            if (split != std::string::npos) {
                const std::string rest = both.substr(split + 1);
                window.className = rest.substr(0, rest.find('\0'));
            }
        }
        xcb_ewmh_get_atoms_reply_t atoms{};
        if (xcb_ewmh_get_wm_window_type_reply(e, cookie.type, &atoms, nullptr) != 0) {
            std::vector<std::string> names;
            for (std::uint32_t a = 0; a < atoms.atoms_len; ++a) {
                for (const auto& [atom, name] : state_->typeNames) {
                    if (atoms.atoms[a] == atom) {
                        names.push_back(name);
                    }
                }
            }
            window.kind = windowKindFromTypeNames(names);
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        xcb_ewmh_get_extents_reply_t extents{};
        if (xcb_ewmh_get_frame_extents_reply(e, cookie.extents, &extents, nullptr) != 0) {
            window.frame = {static_cast<double>(extents.left), static_cast<double>(extents.right),
                            static_cast<double>(extents.top), static_cast<double>(extents.bottom)};
        }
        if (xcb_ewmh_get_wm_state_reply(e, cookie.wmState, &atoms, nullptr) != 0) {
            for (std::uint32_t a = 0; a < atoms.atoms_len; ++a) {
                window.fullScreen =
                    window.fullScreen || atoms.atoms[a] == e->_NET_WM_STATE_FULLSCREEN;
                window.hidden = window.hidden || atoms.atoms[a] == e->_NET_WM_STATE_HIDDEN;
            }
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        std::uint32_t desktop = 0;
        if (xcb_ewmh_get_wm_desktop_reply(e, cookie.desktop, &desktop, nullptr) != 0) {
            window.desktop = desktop;
        }
        if (!geometry || !origin) {
            continue; // gone while we asked
        }
        window.clientRect = CGRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        described.push_back(std::move(window));
    }
    xcb_flush(c);
    return described;
}

void EwmhConnection::requestActivation(std::uint32_t window) {
    xcb_ewmh_request_change_active_window(
        &state_->ewmh, 0, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME, XCB_NONE);
    xcb_flush(state_->connection);
}

} // namespace scrivlet::x11
