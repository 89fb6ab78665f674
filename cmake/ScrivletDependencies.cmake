# Every dependency is a Debian package found through CMake's config files or pkg-config.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(SQLite3 REQUIRED IMPORTED_TARGET sqlite3>=3.37)
pkg_check_modules(utf8proc REQUIRED IMPORTED_TARGET libutf8proc)
pkg_check_modules(uuid REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(systemd REQUIRED IMPORTED_TARGET libsystemd)
pkg_check_modules(uriparser REQUIRED IMPORTED_TARGET liburiparser)
find_package(nlohmann_json 3.10 REQUIRED)

if(SCRIVLET_X11_DESKTOP)
    find_package(Qt5 5.15 REQUIRED COMPONENTS Widgets DBus X11Extras)
    pkg_check_modules(xcb REQUIRED IMPORTED_TARGET xcb xcb-ewmh xcb-randr)
    # The file manager's selection on that desktop.
    pkg_check_modules(atspi REQUIRED IMPORTED_TARGET GLOBAL atspi-2 gobject-2.0 dbus-1)
endif()

if(SCRIVLET_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()
if(SCRIVLET_BUILD_BENCHMARKS)
    find_package(benchmark REQUIRED)
endif()
if(SCRIVLET_BUILD_DOLPHIN_PLUGINS)
    find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets DBus)
    find_package(KF5KIO 5.100 REQUIRED)
    find_package(KF5CoreAddons 5.100 REQUIRED)
endif()

# The extension's module for the GTK file manager: built when its extension library is there.
pkg_check_modules(nautilus IMPORTED_TARGET libnautilus-extension-4>=43)
option(SCRIVLET_BUILD_NAUTILUS_EXTENSION
       "Build the extension's module for the GTK file manager (libnautilus-extension-4)"
       ${nautilus_FOUND})
if(SCRIVLET_BUILD_NAUTILUS_EXTENSION)
    if(NOT nautilus_FOUND)
        message(FATAL_ERROR "SCRIVLET_BUILD_NAUTILUS_EXTENSION needs libnautilus-extension-4")
    endif()
    pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0 gobject-2.0)
    # Compiled into the file manager: the only folder it loads extensions from.
    pkg_get_variable(SCRIVLET_NAUTILUS_EXTENSION_DIR libnautilus-extension-4 extensiondir)
endif()
