# One program from the shell, its renderer and the renderer's hooks: natively, on the port with its
# presenter; on Windows, the .exe and the .scr screen saver, each with a manifest (per-monitor DPI
# awareness, so Windows never stretches the picture), a version resource and, as string 1, the name
# Windows' Screen Saver Settings lists.
function(tovix_program name display_name hooks renderer description)
    if(NOT WIN32)
        add_executable(${name} ${hooks})
        target_link_libraries(${name} PRIVATE tovix_shell ${renderer} winport_sdl)
        return()
    endif()
    set(TOVIX_NAME ${name})
    set(TOVIX_DISPLAY_NAME "${display_name}")
    set(TOVIX_DESCRIPTION "${description}")
    set(TOVIX_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${TOVIX_MANIFEST} @ONLY)
    foreach(kind exe scr)
        set(TOVIX_FILE_NAME ${name}.${kind})
        configure_file(${PROJECT_SOURCE_DIR}/cmake/program.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}_${kind}.rc @ONLY)
        # windres reads the manifest, which the build would not know to track.
        set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${name}_${kind}.rc PROPERTIES OBJECT_DEPENDS ${TOVIX_MANIFEST})
    endforeach()
    add_executable(${name} WIN32 ${hooks} ${CMAKE_CURRENT_BINARY_DIR}/${name}_exe.rc)
    target_link_libraries(${name} PRIVATE tovix_shell ${renderer})
    add_executable(${name}_scr WIN32 ${hooks} ${CMAKE_CURRENT_BINARY_DIR}/${name}_scr.rc)
    target_link_libraries(${name}_scr PRIVATE tovix_screensaver_shell tovix_preview ${renderer})
    set_target_properties(${name}_scr PROPERTIES OUTPUT_NAME ${name} SUFFIX .scr)
endfunction()
