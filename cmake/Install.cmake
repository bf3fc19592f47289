# What `cmake --install` puts where (GNU directory layout under the prefix):
#
#   libexec/moravel/   moravel-cli, moravel (the desktop window, when it is built),
#                      libDisk32.so and moravel-media.so, side by side
#   bin/               moravel-cli and moravel as relative symbolic links into
#                      libexec/moravel/
#   share/applications/org.moravel.moravel.desktop        the menu entry
#   share/metainfo/org.moravel.moravel.metainfo.xml       the software centres' entry
#   share/icons/hicolor/SIZExSIZE/apps/org.moravel.moravel.png, scalable/apps/...svg
#   share/man/man1/moravel-cli.1                           the command line's manual
#   share/bash-completion/completions/moravel-cli          its bash completion
#
# bash-completion loads a command's completion on first use from
# bash-completion/completions/COMMAND under each of XDG_DATA_DIRS (/usr/local/share
# and /usr/share unless set) and under ~/.local/share, so the file is found for
# the prefixes /usr, /usr/local and ~/.local.
#
# The programs find the BIOS disk-service library and the media module (FFmpeg's
# libraries behind it, loaded only to look into a recording) beside themselves,
# through /proc/self/exe, which names the program's real file whatever link
# started it, from the build tree and installed alike. So the programs and their
# libraries share a folder of their own, and bin/ holds links to the programs
# rather than shared libraries among executables.
#
#   cmake --install build --prefix ~/.local     (or /usr/local, as root)

include(GNUInstallDirs)

set(MORAVEL_APP_ID org.moravel.moravel)
set(MORAVEL_INSTALL_PROGRAMDIR ${CMAKE_INSTALL_LIBEXECDIR}/moravel)

set(moravel_programs moravel-cli)
if(TARGET moravel)
    list(APPEND moravel_programs moravel)
endif()

install(TARGETS ${moravel_programs} RUNTIME DESTINATION ${MORAVEL_INSTALL_PROGRAMDIR})
install(TARGETS moravel_disk32 moravel_media_module LIBRARY DESTINATION ${MORAVEL_INSTALL_PROGRAMDIR})

# The links in bin/ are made when installing, so that they follow the prefix given
# to `cmake --install --prefix` and DESTDIR.
install(CODE "set(moravel_programs \"${moravel_programs}\")
set(moravel_bindir \"${CMAKE_INSTALL_BINDIR}\")
set(moravel_programdir \"${MORAVEL_INSTALL_PROGRAMDIR}\")")
install(CODE [[
foreach(dir moravel_bindir moravel_programdir)
    if(NOT IS_ABSOLUTE "${${dir}}")
        set(${dir} "${CMAKE_INSTALL_PREFIX}/${${dir}}")
    endif()
endforeach()
file(RELATIVE_PATH moravel_target "${moravel_bindir}" "${moravel_programdir}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${moravel_bindir}")
foreach(program IN LISTS moravel_programs)
    set(link "$ENV{DESTDIR}${moravel_bindir}/${program}")
    message(STATUS "Installing: ${link} -> ${moravel_target}/${program}")
    file(REMOVE "${link}")
    file(CREATE_LINK "${moravel_target}/${program}" "${link}" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")
endforeach()
]])

install(FILES ${PROJECT_SOURCE_DIR}/res/linux/${MORAVEL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/linux/${MORAVEL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/res/moravel-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${MORAVEL_APP_ID}.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/moravel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${MORAVEL_APP_ID}.svg)

install(FILES ${PROJECT_SOURCE_DIR}/res/linux/moravel-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/linux/moravel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME moravel-cli)
