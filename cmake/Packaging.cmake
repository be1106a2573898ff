# Installation and packages: on Linux a .deb that puts the programs where xscreensaver looks for
# its savers, on Windows a ZIP with the .exe and .scr files.
set(CPACK_PACKAGE_NAME tovix)
set(CPACK_PACKAGE_VENDOR "Tovix")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tovixtiles and tovixquads, two full-screen animated displays")
set(CPACK_PACKAGE_CONTACT "Tovix developers <tovix@example.org>")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    install(TARGETS tovixtiles tovixtiles_scr tovixquads tovixquads_scr RUNTIME DESTINATION .)
    configure_file(packaging/windows/README.txt ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE WIN32)
    install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME tovix-${PROJECT_VERSION}-win64)
    include(CPack)
    return()
endif()

include(GNUInstallDirs)
set(hacks ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver)
set(packaged ${PROJECT_BINARY_DIR}/packaged)
set(zipped)
foreach(program tiles quads)
    set(NAME tovix${program})
    string(TOUPPER ${NAME} UPPER_NAME)
    if(program STREQUAL tiles)
        set(SUMMARY "a mosaic of coloured tiles over every monitor")
        set(DESCRIPTION "blacks out every monitor and piles up small coloured tiles on it, one on each monitor at a time; their colours follow their place on the screen and turn slowly.")
    else()
        set(SUMMARY "coloured squares piling up over every monitor")
        set(DESCRIPTION "covers every monitor with an orange picture drawn with OpenGL, on which squares of one colour pile up, 36 at a time.")
    endif()
    configure_file(packaging/tovix.6.in ${packaged}/${NAME}.6 @ONLY)
    list(APPEND zipped ${NAME}.6)
    install(TARGETS ${NAME} RUNTIME DESTINATION ${hacks})
    # Also on PATH, to run by hand.
    file(CREATE_LINK ../${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver/${NAME} ${packaged}/${NAME} SYMBOLIC)
    install(FILES ${packaged}/${NAME} DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES packaging/xscreensaver/${NAME}.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
    install(FILES ${packaged}/${NAME}.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
endforeach()
# tovix-idle, which runs them as a screen saver where no daemon does: on PATH, with its man page and
# a systemd user unit (the relative folder is on the user manager's path under /usr and /usr/local).
install(TARGETS tovix-idle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
configure_file(packaging/tovix-idle.1.in ${packaged}/tovix-idle.1 @ONLY)
list(APPEND zipped tovix-idle.1)
install(FILES ${packaged}/tovix-idle.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/systemd/tovix-idle.service DESTINATION lib/systemd/user)
configure_file(packaging/debian/changelog.in ${packaged}/changelog @ONLY)
list(APPEND zipped changelog)
install(FILES ${packaged}/changelog.gz packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Debian wants documentation compressed, and the same bytes every time.
foreach(file ${zipped})
    add_custom_command(OUTPUT ${packaged}/${file}.gz COMMAND gzip -9nkf ${packaged}/${file}
                       DEPENDS ${packaged}/${file})
    list(APPEND zipped_outputs ${packaged}/${file}.gz)
endforeach()
add_custom_target(packaged_docs ALL DEPENDS ${zipped_outputs})

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libEGL finds its driver at run time, out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libegl-mesa0)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | xsecurelock")
set(CPACK_PACKAGE_DESCRIPTION "Two screen savers for X. tovixtiles piles up small coloured tiles
into a mosaic over black, one on every monitor at a time, coloured by their
place on the screen. tovixquads piles up squares of one colour, 36 at a
time, on an orange ground drawn with OpenGL. Both run under xscreensaver
and xsecurelock, or by hand; on Wayland (GNOME, KDE Plasma, sway) tovix-idle
starts them when the session goes idle.")
include(CPack)
