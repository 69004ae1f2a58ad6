# What `cmake --install` puts in place and how CPack wraps it into a Debian package. Included
# from the top-level CMakeLists.txt after every subdirectory, so that each program is known.

set(VELMARIXON_APP_ID org.velmarixon.velmarixon)

# The programs: the tool, the command-line sender and the device simulator where they are built.
set(velmarixon_programs velmarixon)
foreach(program velmarixon-send velmarixon-device-sim)
    if(TARGET ${program})
        list(APPEND velmarixon_programs ${program})
    endif()
endforeach()
install(TARGETS ${velmarixon_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

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
endif()

# A Debian package whose dependencies dpkg-shlibdeps computes from the installed programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmarixon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmarixon developers")
set(CPACK_PACKAGE_CONTACT "Velmarixon developers <velmarixon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "commission and test a field device over a serial line or UDP")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmarixon sends short framed commands to a field device over a serial line\n\
(COM1 to COM4) or UDP, shows each frame in hexadecimal and lists the device's\n\
acknowledgement, refusal or reply. The package also holds the device simulator\n\
for trying the tool without a device.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
