# The version header, the man pages, and the Debian package (cpack -G DEB, see scripts/package.sh).
# Included at the end of the top-level list, once every program's target exists.

# resources/version.h, generated: every program includes it for --version.
configure_file(${PROJECT_SOURCE_DIR}/resources/version.h.in
               ${PROJECT_BINARY_DIR}/generated/resources/version.h @ONLY)
function(velmora_executables dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    set(found)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            list(APPEND found ${target})
        endif()
    endforeach()
    foreach(subdir ${subdirs})
        velmora_executables(${subdir} more)
        list(APPEND found ${more})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()
velmora_executables(${PROJECT_SOURCE_DIR} velmora_all_executables)
foreach(target ${velmora_all_executables})
    target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/generated)
endforeach()

include(GNUInstallDirs)

# The simulator's own folder installs nothing; the package carries it for trying the program.
if(TARGET velmora-sim)
    install(TARGETS velmora-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The programs the package must hold: the check of the built package expects exactly these.
set(velmora_programs)
foreach(program velmora velmora-sim velmora-cli velmora-server)
    if(TARGET ${program})
        list(APPEND velmora_programs ${program})
    endif()
endforeach()

# Man pages: templates docs/man/NAME.1.in, with @PROJECT_VERSION@ filled in, compressed as Debian
# keeps them.
file(GLOB velmora_man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1.in)
set(velmora_man_pages)
set(velmora_man_names)
find_program(VELMORA_GZIP gzip REQUIRED)
foreach(source ${velmora_man_sources})
    get_filename_component(name ${source} NAME)
    string(REGEX REPLACE "\\.in$" "" name ${name})
    set(configured ${PROJECT_BINARY_DIR}/man/${name})
    configure_file(${source} ${configured} @ONLY)
    # -n: no name or time stamp inside, so the same page always compresses to the same bytes.
    add_custom_command(OUTPUT ${configured}.gz
        COMMAND ${VELMORA_GZIP} -9nkf ${configured}
        DEPENDS ${configured}
        COMMENT "Compressing man page ${name}")
    list(APPEND velmora_man_pages ${configured}.gz)
    list(APPEND velmora_man_names ${name})
endforeach()
if(velmora_man_pages)
    add_custom_target(velmora_man_pages ALL DEPENDS ${velmora_man_pages})
    install(FILES ${velmora_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The Debian package.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE velmora_deb_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT velmora_deb_arch)
    set(velmora_deb_arch amd64)
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmora")
set(VELMORA_PACKAGE_MAINTAINER "Velmora developers <velmora@localhost>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${VELMORA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program for a laboratory shaker")
# CPack puts the summary above this as the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmora connects to a laboratory shaker over a serial port, identifies the\n"
    "instrument, starts and stops runs at a chosen speed and time, shows the speed\n"
    "and the remaining time live on readouts and a graph, and saves the samples.\n"
    "velmora-sim is a simulated shaker on a pseudo-terminal for trying the program\n"
    "without an instrument.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${velmora_deb_arch})
set(CPACK_DEBIAN_FILE_NAME "velmora_${PROJECT_VERSION}_${velmora_deb_arch}.deb")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Libraries are found by dpkg-shlibdeps; what is loaded by name at run time is not: the text is
# drawn in Liberation Sans on every machine, and the label face is a Song face where present.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-arphic-uming")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)

# Checks a package built by scripts/package.sh: its control fields, its dependencies and its
# files. Needs the package, so it runs only when VELMORA_PACKAGE_TEST names it (or is 1, for
# the package in build-package/); otherwise it reports itself skipped.
if(VELMORA_TESTS)
    add_test(NAME packaging.deb_contents
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/check_deb.sh
                ${PROJECT_SOURCE_DIR}/build-package/${CPACK_DEBIAN_FILE_NAME}
                ${PROJECT_VERSION} "${velmora_programs}" "${velmora_man_names}")
    set_tests_properties(packaging.deb_contents PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endif()
