# What every kqget program for Windows carries: the version resource and the
# application manifest (common controls 6, per-monitor DPI awareness, long
# paths, UTF-8 as the process code page). A window program is made with
# add_executable(NAME WIN32 ...), a console one without WIN32; both then call
#   kqget_windows_program(NAME "description")
# and install(TARGETS NAME RUNTIME DESTINATION ${KQGET_INSTALL_BINDIR}), which
# puts them into the installer and the zip.

function(kqget_windows_program target description)
    set(KQGET_PROGRAM_NAME ${target})
    set(KQGET_PROGRAM_DESCRIPTION ${description})
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_windows)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/program.manifest.in
                   ${generated}/${target}.manifest @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/program.rc.in
                   ${generated}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${generated}/${target}.rc)
    # windres finds the manifest beside the script.
    set_property(SOURCE ${generated}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${generated}/${target}.manifest)
endfunction()
