# C glue for Wayland protocols beyond the core one, made at build time by wayland-scanner, for every
# target that speaks one: WAYLAND_PROTOCOLS_DIR is wayland-protocols' folder of XML files.
find_package(PkgConfig REQUIRED)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT WAYLAND_SCANNER OR NOT WAYLAND_PROTOCOLS_DIR)
    message(FATAL_ERROR "wayland-scanner and wayland-protocols are needed (libwayland-dev, wayland-protocols)")
endif()

# Sets sources_var to the header and C file of each protocol XML given, written into dir.
function(tovix_wayland_protocols sources_var dir)
    set(sources)
    foreach(xml ${ARGN})
        get_filename_component(protocol ${xml} NAME_WE)
        add_custom_command(OUTPUT ${dir}/${protocol}.h ${dir}/${protocol}.c
                           COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                           COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${dir}/${protocol}.h
                           COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${dir}/${protocol}.c
                           DEPENDS ${xml} VERBATIM)
        list(APPEND sources ${dir}/${protocol}.c ${dir}/${protocol}.h)
    endforeach()
    set(${sources_var} ${sources} PARENT_SCOPE)
endfunction()
