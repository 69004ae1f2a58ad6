# What `cmake --install` puts in place and how CPack wraps it into a Debian package. Included
# from the top-level CMakeLists.txt after every subdirectory, so that each program is known.

set(VELMARIXON_APP_ID org.velmarixon.velmarixon)

# The programs: the tool, the command-line sender, the trend and the device simulator where they
# are built.
set(velmarixon_programs velmarixon)
foreach(program velmarixon-send velmarixon-trend velmarixon-device-sim)
    if(TARGET ${program})
        list(APPEND velmarixon_programs ${program})
    endif()
endforeach()
install(TARGETS ${velmarixon_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package's) also drops the compiler's notes that plain strip keeps, as
# Debian's own packaging does.
if(UNIX AND NOT APPLE AND CMAKE_STRIP)
    foreach(program ${velmarixon_programs})
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                    --remove-section=.note
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                    COMMAND_ERROR_IS_FATAL ANY)
            endif()")
    endforeach()
endif()

# Who answers for the package. The address is a stand-in on a host that cannot exist (.invalid)
# until the project has a home with a mail host; a release sets the real one here.
set(VELMARIXON_PACKAGE_CONTACT "Velmarixon developers <packages@velmarixon.invalid>"
    CACHE STRING "Name and mail address of the package's maintainer")
# The build's date: the release date in the software-centre metadata and the changelog's date.
# Both follow SOURCE_DATE_EPOCH when it is set, so a package built twice is the same.
string(TIMESTAMP VELMARIXON_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VELMARIXON_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# A manual page for each program, made by help2man from its --help and --version. AUTO makes
# them where help2man is installed; the package's build asks for ON.
set(VELMARIXON_MANUAL_PAGES AUTO CACHE STRING "Make manual pages with help2man: ON, OFF or AUTO")
set_property(CACHE VELMARIXON_MANUAL_PAGES PROPERTY STRINGS ON OFF AUTO)
find_program(VELMARIXON_HELP2MAN help2man)
find_program(VELMARIXON_GZIP gzip)
set(velmarixon_make_pages OFF)
if(VELMARIXON_MANUAL_PAGES STREQUAL "ON")
    if(NOT VELMARIXON_HELP2MAN OR NOT VELMARIXON_GZIP OR CMAKE_CROSSCOMPILING)
        message(FATAL_ERROR "Manual pages need help2man and gzip, and programs that run here")
    endif()
    set(velmarixon_make_pages ON)
elseif(VELMARIXON_MANUAL_PAGES STREQUAL "AUTO" AND VELMARIXON_HELP2MAN AND VELMARIXON_GZIP
       AND NOT CMAKE_CROSSCOMPILING AND UNIX)
    set(velmarixon_make_pages ON)
endif()
if(velmarixon_make_pages)
    set(velmarixon_summary_velmarixon
        "commission and test a field device over a serial line or UDP")
    set(velmarixon_summary_velmarixon-send
        "send one command frame to a field device and print its answer")
    set(velmarixon_summary_velmarixon-trend
        "draw the records of velmarixon-send over time, live or as a picture")
    set(velmarixon_summary_velmarixon-device-sim
        "simulate a field device on a pseudo-terminal or on UDP")
    set(velmarixon_pages "")
    foreach(program ${velmarixon_programs})
        set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
        add_custom_command(
            OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
            COMMAND ${VELMARIXON_HELP2MAN} --no-info --no-discard-stderr
                    "--name=${velmarixon_summary_${program}}" --output=${page}
                    $<TARGET_FILE:${program}>
            COMMAND ${VELMARIXON_GZIP} -9nf ${page}
            DEPENDS ${program}
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND velmarixon_pages ${page}.gz)
    endforeach()
    add_custom_target(manual_pages ALL DEPENDS ${velmarixon_pages})
    install(FILES ${velmarixon_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The menu entry, its icon and the software-centre description, on desktops that read them.
if(UNIX AND NOT APPLE)
    set(VELMARIXON_PROVIDED_BINARIES "")
    foreach(program ${velmarixon_programs})
        string(APPEND VELMARIXON_PROVIDED_BINARIES "    <binary>${program}</binary>\n")
    endforeach()
    string(STRIP "${VELMARIXON_PROVIDED_BINARIES}" VELMARIXON_PROVIDED_BINARIES)
    set(VELMARIXON_PROVIDED_BINARIES "    ${VELMARIXON_PROVIDED_BINARIES}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/${VELMARIXON_APP_ID}.metainfo.xml.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${VELMARIXON_APP_ID}.metainfo.xml @ONLY)

    install(FILES ${CMAKE_CURRENT_LIST_DIR}/${VELMARIXON_APP_ID}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/${VELMARIXON_APP_ID}.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${VELMARIXON_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    # Debian's documents: the machine-readable copyright file and, this being a native
    # package, the changelog as changelog.gz; both carry the version and contact above.
    set(velmarixon_doc ${PROJECT_BINARY_DIR}/doc)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright ${velmarixon_doc}/copyright @ONLY)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${velmarixon_doc}/changelog @ONLY)
    if(VELMARIXON_GZIP)
        execute_process(COMMAND ${VELMARIXON_GZIP} -9nc ${velmarixon_doc}/changelog
                        OUTPUT_FILE ${velmarixon_doc}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
        install(FILES ${velmarixon_doc}/copyright ${velmarixon_doc}/changelog.gz
                DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmarixon)
    endif()
    # Tags lintian reports that this package cannot honestly mend, each with its reason.
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmarixon)
endif()

# A Debian package whose dependencies dpkg-shlibdeps computes from the installed programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmarixon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmarixon developers")
set(CPACK_PACKAGE_CONTACT "${VELMARIXON_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "commission and test a field device over a serial line or UDP")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmarixon sends short framed commands to a field device over a serial line\n\
(COM1 to COM4) or UDP, shows each frame in hexadecimal and lists the device's\n\
acknowledgement, refusal or reply. The package also holds velmarixon-send,\n\
which makes the same exchange from a shell, velmarixon-trend, which draws its\n\
polled readings over time, and the device simulator for trying the tool\n\
without a device.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
