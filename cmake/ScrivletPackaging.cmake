# Debian packages (`cpack -G DEB` in the build folder, or the `package` target): one package per
# install component.
#   scrivlet          the app bundle in the system's Applications folder (/usr/lib/scrivlet),
#                     unchanged inside; its command-line programs on PATH through /usr/bin; the
#                     desktop entry for scrivlet: URLs and the icon
#   scrivlet-<fm>     one per file manager: its plug-ins where that file manager loads them,
#                     depending on the app's package of the same version and on the file manager
# Another file manager's package is one more block like Dolphin's near the end (scrivlet_package
# and its install rules, before include(CPack)). The install rules serve the packages only: the
# bundle counts as installed only in SCRIVLET_SYSTEM_APPLICATIONS_DIR, which the app is built
# with.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
string(FIND "${SCRIVLET_SYSTEM_APPLICATIONS_DIR}/" "${CPACK_PACKAGING_INSTALL_PREFIX}/" prefix_at)
if(NOT prefix_at EQUAL 0)
    message(FATAL_ERROR "SCRIVLET_SYSTEM_APPLICATIONS_DIR must lie under "
                        "${CPACK_PACKAGING_INSTALL_PREFIX}, where the packages install")
endif()
file(RELATIVE_PATH scrivlet_applications_dest ${CPACK_PACKAGING_INSTALL_PREFIX}
     ${SCRIVLET_SYSTEM_APPLICATIONS_DIR})
set(scrivlet_contents_dest ${scrivlet_applications_dest}/Scrivlet.app/Contents)
set(scrivlet_installed_frameworks ${SCRIVLET_SYSTEM_APPLICATIONS_DIR}/Scrivlet.app/Contents/Frameworks)
set(scrivlet_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(scrivlet_packaging_build_dir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${scrivlet_packaging_build_dir}/bin)

# The programs in the bundle's Contents/MacOS that a shell reaches by name: each is linked into
# /usr/bin, and its manual page, packaging/<name>.1, is installed when there is one.
# The scrivlet command brings its own manual page and completions (ScrivletCommand/).
set(SCRIVLET_COMMAND_LINE_PROGRAMS scrivlet-open scrivlet)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME scrivlet)
set(CPACK_PACKAGE_VENDOR "Scrivlet developers")
set(CPACK_PACKAGE_CONTACT "Scrivlet developers <scrivlet@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://scrivlet.example.org/")
set(CPACK_DEB_COMPONENT_INSTALL ON)
# The upstream version and the packaging's revision: <name>_<version>-<revision>_<arch>.deb.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(scrivlet_debian_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_COMPONENTS_ALL)

# Where dpkg-shlibdeps finds the bundle's libraries: in the staging folder of the package it
# looks at, and in the app's beside it (CPack stages each component in a folder named after it,
# and the tool joins these to "."). The app's libraries have no shlibs file; the file managers'
# packages depend on the app's package by name instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${scrivlet_contents_dest}/Frameworks
    /../scrivlet${CPACK_PACKAGING_INSTALL_PREFIX}/${scrivlet_contents_dest}/Frameworks)

# Every package comes from the one source: lintian then counts /usr/lib/scrivlet as each
# package's private library folder, which the file managers' plug-ins link from.
macro(scrivlet_package component name section depends description)
    string(TOUPPER ${component} upper)
    list(APPEND CPACK_COMPONENTS_ALL ${component})
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${name})
    set(CPACK_DEBIAN_${upper}_PACKAGE_SOURCE scrivlet)
    set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
    set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${depends}")
    set(CPACK_DEBIAN_${upper}_DESCRIPTION "${description}")
    install(FILES ${scrivlet_packaging_dir}/copyright
                  ${scrivlet_packaging_build_dir}/changelog.Debian.gz
            DESTINATION share/doc/${name} COMPONENT ${component})
    # The warnings lintian gives that the packaging accepts, each with its reason in
    # packaging/lintian-overrides.
    file(STRINGS ${scrivlet_packaging_dir}/lintian-overrides accepted REGEX "^[a-z]")
    list(TRANSFORM accepted PREPEND "${name}: ")
    list(JOIN accepted "\n" accepted)
    file(WRITE ${scrivlet_packaging_build_dir}/overrides/${name} "${accepted}\n")
    install(FILES ${scrivlet_packaging_build_dir}/overrides/${name}
            DESTINATION share/lintian/overrides COMPONENT ${component})
endmacro()

# The source's changelog and the manual pages, compressed as Debian keeps them, reproducibly
# (no name or time stamp in the gzip header).
configure_file(${scrivlet_packaging_dir}/changelog.Debian.in
               ${scrivlet_packaging_build_dir}/changelog.Debian @ONLY)
set(scrivlet_generated ${scrivlet_packaging_build_dir}/changelog.Debian.gz)
add_custom_command(OUTPUT ${scrivlet_packaging_build_dir}/changelog.Debian.gz
    COMMAND sh -c "gzip -9n <\"$0\" >\"$1\"" ${scrivlet_packaging_build_dir}/changelog.Debian
            ${scrivlet_packaging_build_dir}/changelog.Debian.gz
    DEPENDS ${scrivlet_packaging_build_dir}/changelog.Debian VERBATIM)

# --- scrivlet: the app ------------------------------------------------------------------------
scrivlet_package(scrivlet scrivlet utils "at-spi2-core, xdg-utils"
"annotations for the files you see in the file manager
Scrivlet lets you rate files, give them a status, tags and a note while you
browse them in the file manager. A small panel beside the file manager's window
shows the selected file's annotation; emblems mark annotated and flagged files.
.
This package holds the app (in /usr/lib/scrivlet), its command-line opener for
scrivlet: URLs, the scrivlet command that reads and edits annotations, and the
desktop entry that handles the URLs. The file managers' emblems and menu items
come in a package per file manager, such as scrivlet-dolphin and
scrivlet-nautilus.")

install(TARGETS Scrivlet ${SCRIVLET_COMMAND_LINE_PROGRAMS}
        RUNTIME DESTINATION ${scrivlet_contents_dest}/MacOS COMPONENT scrivlet)
install(TARGETS Scrivcore ScrivletPlatform
        LIBRARY DESTINATION ${scrivlet_contents_dest}/Frameworks NAMELINK_SKIP COMPONENT scrivlet)
install(TARGETS ScrivletFinderSync
        LIBRARY DESTINATION ${scrivlet_contents_dest}/PlugIns/ScrivletFinderSync.appex/Contents/MacOS
        COMPONENT scrivlet)
install(FILES ${SCRIVLET_BUNDLE_DIR}/Contents/Info.json
        DESTINATION ${scrivlet_contents_dest} COMPONENT scrivlet)
install(FILES ${SCRIVLET_BUNDLE_DIR}/Contents/PlugIns/ScrivletFinderSync.appex/Contents/Info.json
        DESTINATION ${scrivlet_contents_dest}/PlugIns/ScrivletFinderSync.appex/Contents
        COMPONENT scrivlet)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/Scrivlet/uninstall.sh
        DESTINATION ${scrivlet_contents_dest}/Resources COMPONENT scrivlet)

foreach(program IN LISTS SCRIVLET_COMMAND_LINE_PROGRAMS)
    file(RELATIVE_PATH target_from_bin ${CPACK_PACKAGING_INSTALL_PREFIX}/bin
         ${SCRIVLET_SYSTEM_APPLICATIONS_DIR}/Scrivlet.app/Contents/MacOS/${program})
    file(CREATE_LINK ${target_from_bin} ${scrivlet_packaging_build_dir}/bin/${program} SYMBOLIC)
    install(FILES ${scrivlet_packaging_build_dir}/bin/${program} DESTINATION bin
            COMPONENT scrivlet)
    if(EXISTS ${scrivlet_packaging_dir}/${program}.1)
        configure_file(${scrivlet_packaging_dir}/${program}.1
                       ${scrivlet_packaging_build_dir}/${program}.1 @ONLY)
        add_custom_command(OUTPUT ${scrivlet_packaging_build_dir}/${program}.1.gz
            COMMAND sh -c "gzip -9n <\"$0\" >\"$1\"" ${scrivlet_packaging_build_dir}/${program}.1
                    ${scrivlet_packaging_build_dir}/${program}.1.gz
            DEPENDS ${scrivlet_packaging_build_dir}/${program}.1 VERBATIM)
        list(APPEND scrivlet_generated ${scrivlet_packaging_build_dir}/${program}.1.gz)
        install(FILES ${scrivlet_packaging_build_dir}/${program}.1.gz DESTINATION share/man/man1
                COMPONENT scrivlet)
    endif()
endforeach()

set(SCRIVLET_INSTALLED_EXECUTABLE ${SCRIVLET_SYSTEM_APPLICATIONS_DIR}/Scrivlet.app/Contents/MacOS/Scrivlet)
configure_file(${scrivlet_packaging_dir}/com.scrivlet.Scrivlet.desktop.in
               ${scrivlet_packaging_build_dir}/com.scrivlet.Scrivlet.desktop @ONLY)
install(FILES ${scrivlet_packaging_build_dir}/com.scrivlet.Scrivlet.desktop
        DESTINATION share/applications COMPONENT scrivlet)
install(FILES ${scrivlet_packaging_dir}/com.scrivlet.Scrivlet.svg
        DESTINATION share/icons/hicolor/scalable/apps COMPONENT scrivlet)
# Bitmap sizes for the menus and panels that do not draw SVG, when the build machine can make
# them (librsvg2-bin).
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
    foreach(size 48 256)
        set(png ${scrivlet_packaging_build_dir}/icons/${size}x${size}/com.scrivlet.Scrivlet.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${scrivlet_packaging_build_dir}/icons/${size}x${size}
            COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
                    ${scrivlet_packaging_dir}/com.scrivlet.Scrivlet.svg
            DEPENDS ${scrivlet_packaging_dir}/com.scrivlet.Scrivlet.svg VERBATIM)
        list(APPEND scrivlet_generated ${png})
        install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps
                COMPONENT scrivlet)
    endforeach()
endif()
add_custom_target(scrivlet-package-files ALL DEPENDS ${scrivlet_generated})

# Installs a plug-in that a file manager loads from a system folder. Built, it finds the
# libraries it links in the bundle around it; installed, in the bundle in the system's
# Applications folder, so its search path is cut down to that folder's entry.
function(scrivlet_install_system_plugin target destination component)
    get_target_property(build_rpath ${target} INSTALL_RPATH)
    if(NOT build_rpath MATCHES ":${scrivlet_installed_frameworks}$")
        message(FATAL_ERROR "${target}: its INSTALL_RPATH must end in ${scrivlet_installed_frameworks}")
    endif()
    install(TARGETS ${target} LIBRARY DESTINATION ${destination} COMPONENT ${component})
    install(CODE "file(RPATH_CHANGE
        FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\"
        OLD_RPATH \"${build_rpath}\" NEW_RPATH \"${scrivlet_installed_frameworks}\")"
        COMPONENT ${component})
endfunction()

# --- scrivlet-dolphin: the emblems and menu items in Dolphin -------------------------------------
if(TARGET ScrivletFileManagerPlugIns)
    # Qt 5's own plug-in folder, where Dolphin looks without any environment variable.
    get_target_property(qmake Qt5::qmake IMPORTED_LOCATION)
    execute_process(COMMAND ${qmake} -query QT_INSTALL_PLUGINS
                    OUTPUT_VARIABLE qt_plugins OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    file(RELATIVE_PATH qt_plugins_dest ${CPACK_PACKAGING_INSTALL_PREFIX} ${qt_plugins})

    scrivlet_package(dolphin scrivlet-dolphin kde
        "scrivlet (= ${scrivlet_debian_version}), dolphin"
"Scrivlet's emblems and context-menu items in Dolphin
Dolphin shows an emblem on each file that has a Scrivlet annotation (orange
when the file is flagged) and offers Scrivlet's commands in the context menu
of the selected files.
.
The plug-ins load in every new Dolphin window once this package is installed;
they talk to the Scrivlet app from the scrivlet package.")
    install(TARGETS ScrivletFileManager
            LIBRARY DESTINATION ${scrivlet_contents_dest}/Frameworks NAMELINK_SKIP
            COMPONENT dolphin)
    scrivlet_install_system_plugin(scrivlet_overlayicon ${qt_plugins_dest}/kf5/overlayicon dolphin)
    scrivlet_install_system_plugin(scrivlet_fileitemaction ${qt_plugins_dest}/kf5/kfileitemaction
                                   dolphin)
endif()

# --- scrivlet-nautilus: the emblems and menu items in GNOME's file manager --------------------
if(TARGET scrivlet_nautilus)
    # The one folder the file manager loads extensions from, compiled into it.
    file(RELATIVE_PATH nautilus_extensions_dest ${CPACK_PACKAGING_INSTALL_PREFIX}
         ${SCRIVLET_NAUTILUS_EXTENSION_DIR})
    if(nautilus_extensions_dest MATCHES "^\\.\\.")
        message(FATAL_ERROR "The file manager's extension folder ${SCRIVLET_NAUTILUS_EXTENSION_DIR} "
                            "lies outside ${CPACK_PACKAGING_INSTALL_PREFIX}")
    endif()
    get_target_property(nautilus_rpath scrivlet_nautilus INSTALL_RPATH)
    if(NOT nautilus_rpath STREQUAL scrivlet_installed_frameworks)
        message(FATAL_ERROR "scrivlet_nautilus: its INSTALL_RPATH must be ${scrivlet_installed_frameworks}")
    endif()

    scrivlet_package(nautilus scrivlet-nautilus gnome
        "scrivlet (= ${scrivlet_debian_version}), nautilus"
"Scrivlet's emblems and context-menu items in GNOME Files
GNOME Files (Nautilus) shows an emblem on each file that has a Scrivlet
annotation (orange when the file is flagged) and offers Scrivlet's commands in
the context menu of the selected files. On X11 it also tells the Scrivlet app
which file is selected, for the panel beside the window.
.
The extension loads in GNOME Files once it is started again after this package
is installed; it talks to the Scrivlet app from the scrivlet package.")
    install(TARGETS scrivlet_nautilus LIBRARY DESTINATION ${nautilus_extensions_dest}
            COMPONENT nautilus)
    install(FILES ${SCRIVLET_NAUTILUS_EMBLEMS} DESTINATION share/icons/hicolor/scalable/emblems
            COMPONENT nautilus)
endif()

include(CPack)
