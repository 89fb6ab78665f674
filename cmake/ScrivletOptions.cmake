# Build options shared by every target of the project.
option(SCRIVLET_WERROR "Treat compiler warnings as errors" OFF)
option(SCRIVLET_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(SCRIVLET_BUILD_TESTS "Build the GoogleTest suites" ON)
option(SCRIVLET_BUILD_BENCHMARKS "Build the Google Benchmark programs" ON)
option(SCRIVLET_BUILD_FUZZERS "Build the libFuzzer targets (clang)" OFF)
option(SCRIVLET_X11_DESKTOP "Build the X11 desktop backend (Qt 5 widgets, xcb)" ON)
option(SCRIVLET_BUILD_DOLPHIN_PLUGINS
       "Build the extension's plug-ins for the KDE file manager (Qt 5, KDE Frameworks 5)" ON)
# The system's Applications folder: the package installs the app bundle here, and the app
# counts it as an install location of its own (beside ~/Applications).
set(SCRIVLET_SYSTEM_APPLICATIONS_DIR "/usr/lib/scrivlet"
    CACHE PATH "Folder the system package installs Scrivlet.app into (absolute)")
if(NOT IS_ABSOLUTE "${SCRIVLET_SYSTEM_APPLICATIONS_DIR}")
    message(FATAL_ERROR "SCRIVLET_SYSTEM_APPLICATIONS_DIR must be absolute")
endif()

# Warning flags live on an interface target so that only our own targets get them.
add_library(scrivlet_warnings INTERFACE)
target_compile_options(scrivlet_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                   -Wnon-virtual-dtor -Wold-style-cast)
if(SCRIVLET_WERROR)
    target_compile_options(scrivlet_warnings INTERFACE -Werror)
endif()

if(SCRIVLET_SANITIZE)
    set(scrivlet_sanitizer_flags -fsanitize=address,undefined -fno-omit-frame-pointer
                                 -fno-sanitize-recover=undefined)
    add_compile_options(${scrivlet_sanitizer_flags})
    add_link_options(${scrivlet_sanitizer_flags})
endif()

# Fuzz targets need the fuzzer's coverage in all the code they reach, not only in their own.
if(SCRIVLET_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "SCRIVLET_BUILD_FUZZERS needs clang (use the fuzz preset)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# A shared library of ours exports only what its headers mark with its API macro; the rest
# stays inside, so programs cannot come to depend on it and the dynamic symbol table stays small.
function(scrivlet_export_api target)
    set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                               VISIBILITY_INLINES_HIDDEN ON)
endfunction()
