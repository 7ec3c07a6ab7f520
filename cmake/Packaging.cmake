# Installation and packaging: the programs in bin, the service daemon in sbin,
# their manual pages in man1 and man8, the README and an example parameter
# file in the package's documentation folder, the parameter files in /etc, the
# daemon's systemd unit, and a Debian package built by CPack whose dependencies
# dpkg-shlibdeps derives from the libraries the programs link.
#
#   cmake --install build --prefix /usr/local
#   (cd build && cpack -G DEB)
include(GNUInstallDirs)

set(OV_PACKAGE_NAME userservicecommand)
# Debian wants the documentation folder named after the package.
set(OV_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${OV_PACKAGE_NAME})

# The manual page: its version filled in, then compressed as man-db expects it
# installed (gzip -n: no name or time stamp, so that rebuilds are identical).
find_program(OV_GZIP gzip REQUIRED)
set(OV_MANPAGE ${PROJECT_BINARY_DIR}/doc/UserServiceCommand.1)
configure_file(${PROJECT_SOURCE_DIR}/doc/UserServiceCommand.1.in ${OV_MANPAGE} @ONLY)
set(OV_CLI_MANPAGE ${PROJECT_BINARY_DIR}/doc/userservice.1)
configure_file(${PROJECT_SOURCE_DIR}/doc/userservice.1.in ${OV_CLI_MANPAGE} @ONLY)
set(OV_DAEMON_MANPAGE ${PROJECT_BINARY_DIR}/doc/userserviced.8)
configure_file(${PROJECT_SOURCE_DIR}/doc/userserviced.8.in ${OV_DAEMON_MANPAGE} @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/doc/debian/changelog.in
               ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(
    OUTPUT ${OV_MANPAGE}.gz ${OV_CLI_MANPAGE}.gz ${OV_DAEMON_MANPAGE}.gz
           ${PROJECT_BINARY_DIR}/doc/changelog.gz
    COMMAND ${OV_GZIP} -9 -n -c ${OV_MANPAGE} > ${OV_MANPAGE}.gz
    COMMAND ${OV_GZIP} -9 -n -c ${OV_CLI_MANPAGE} > ${OV_CLI_MANPAGE}.gz
    COMMAND ${OV_GZIP} -9 -n -c ${OV_DAEMON_MANPAGE} > ${OV_DAEMON_MANPAGE}.gz
    COMMAND ${OV_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/doc/changelog
            > ${PROJECT_BINARY_DIR}/doc/changelog.gz
    DEPENDS ${OV_MANPAGE} ${OV_CLI_MANPAGE} ${OV_DAEMON_MANPAGE}
            ${PROJECT_BINARY_DIR}/doc/changelog
    COMMENT "Compressing the manual pages and the changelog"
    VERBATIM)
add_custom_target(ov_docs ALL
    DEPENDS ${OV_MANPAGE}.gz ${OV_CLI_MANPAGE}.gz ${OV_DAEMON_MANPAGE}.gz
            ${PROJECT_BINARY_DIR}/doc/changelog.gz)

# Relocations resolved at start and then read-only, as Debian hardens its
# programs (lintian asks for it).
target_link_options(UserServiceCommand PRIVATE LINKER:-z,relro LINKER:-z,now)
target_link_options(userservice PRIVATE LINKER:-z,relro LINKER:-z,now)
target_link_options(userserviced PRIVATE LINKER:-z,relro LINKER:-z,now)
target_link_options(userservicecommand-remote PRIVATE LINKER:-z,relro LINKER:-z,now)

install(TARGETS UserServiceCommand userservice RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The programs' module of the services at the daemon: where they look for it
# from bin/ (../lib/userservicecommand/), a private folder of the package.
install(TARGETS userservicecommand-remote LIBRARY DESTINATION lib/userservicecommand
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS userserviced RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(FILES ${OV_MANPAGE}.gz ${OV_CLI_MANPAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${OV_DAEMON_MANPAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${PROJECT_SOURCE_DIR}/apps/userservice/userservice.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME userservice)
# userservice's system-wide parameter file and the daemon's, commented
# examples: in /etc when installed under /usr (the package, conffiles there),
# else under the prefix's etc/, so that an install into a folder of one's own
# stays there (file(INSTALL) puts DESTDIR, where CPack stages the package, in
# front). The daemon's file is no one else's to read: the package's postinst
# gives it to root and the group userserviced, mode 0640. Its systemd unit
# goes where Debian's units are, and only with the package's prefix, whose
# sbin it starts the daemon from.
set(OV_ETC_EXAMPLE ${PROJECT_SOURCE_DIR}/examples/etc-orvane.ini)
set(OV_DAEMON_EXAMPLE ${PROJECT_SOURCE_DIR}/examples/userserviced.ini)
set(OV_DAEMON_UNIT ${PROJECT_SOURCE_DIR}/doc/debian/userserviced.service)
install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(ov_etc /etc/userservicecommand)
        file(INSTALL \"${OV_DAEMON_UNIT}\" DESTINATION /lib/systemd/system
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    else()
        set(ov_etc \"\${CMAKE_INSTALL_PREFIX}/etc/userservicecommand\")
    endif()
    file(INSTALL \"${OV_ETC_EXAMPLE}\" DESTINATION \"\${ov_etc}\" RENAME orvane.ini
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(INSTALL \"${OV_DAEMON_EXAMPLE}\" DESTINATION \"\${ov_etc}\"
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
")
file(WRITE ${PROJECT_BINARY_DIR}/doc/conffiles
     "/etc/userservicecommand/orvane.ini\n/etc/userservicecommand/userserviced.ini\n")
# The maintainer scripts: the daemon's user, its file's permissions, the unit.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/doc/conffiles
    ${PROJECT_SOURCE_DIR}/doc/debian/postinst
    ${PROJECT_SOURCE_DIR}/doc/debian/prerm
    ${PROJECT_SOURCE_DIR}/doc/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# postinst creates the daemon's user with adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/doc/debian/copyright
              ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${OV_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/orvane.ini ${OV_DAEMON_EXAMPLE}
        DESTINATION ${OV_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME ${OV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${OV_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "UserServiceCommand developers")
set(CPACK_PACKAGE_CONTACT "UserServiceCommand developers <userservicecommand@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console and shell clients for a directory user service, and its daemon")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The summary is the package's synopsis, this its extended description.
set(CPACK_PACKAGE_DESCRIPTION
    "UserServiceCommand asks a directory user service, at a numbered menu, which
user sits at a workstation, which users, groups, domains, domain controllers
and trusted domains a directory holds, how logins, qualified names, full names
and e-mail addresses translate into one another, and whether a password is
accepted. It answers from an LDIF file, from a built-in sample directory, or
from an LDAP server (OpenLDAP, Active Directory), optionally over TLS.
userservice answers the same questions one command line at a time, for
scripts: text, JSON or bare DNs, and exit statuses that say what happened.
userserviced serves the same services over the network (gRPC, TLS), so that
the clients need no directory settings and no service account of their own;
its systemd unit is installed disabled.")

include(CPack)
