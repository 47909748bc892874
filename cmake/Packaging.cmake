# The Debian package, built with `cpack` from a Release build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tarnwick developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# One line each in the control file's long description.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Tarnwick checks whether another computer can be reached over the network:"
    "it sends one ICMP echo request to a typed IPv4 address and shows the reply's"
    "status, round-trip time, replying address and echoed data. It also looks the"
    "address up with WHOIS.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PROJECT_HOMEPAGE_URL}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The stripped programs keep no .comment section (the compilers' versions), as dh_strip leaves
# them.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    foreach(program ${CMAKE_INSTALL_BINDIR}/tarnwick ${CMAKE_INSTALL_LIBEXECDIR}/tarnwick/tarnwick-echo)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${program}\"
            COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
endif()")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tarnwick developers <tarnwick@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ libraries come from dpkg-shlibdeps; setcap is what the postinst needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
# The About window hands its links to xdg-open; Qt's Wayland plugin lets a Wayland desktop show
# the windows natively instead of through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland")

# The postinst carries the capability step that the tests run on their own probe. The grant goes
# to the echo program alone; tarnwick itself carries none.
file(READ ${CMAKE_CURRENT_LIST_DIR}/deb/grant-net-raw.sh TARNWICK_GRANT_NET_RAW)
set(TARNWICK_INSTALLED_PROGRAM
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/tarnwick/tarnwick-echo)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/postinst.in ${PROJECT_BINARY_DIR}/deb/postinst
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The same commit gives the same .deb byte for byte (cmake/Reproducible.cmake).
set(CPACK_TARNWICK_SOURCE_DATE_EPOCH ${TARNWICK_SOURCE_DATE_EPOCH})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb/source-date-epoch.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb/fix-member-modes.cmake)

include(CPack)
