# What `cmake --install` puts on a user's machine, and the Debian package
# made from it (`cpack -G DEB` in the build folder).
#
#   bin/                      the programs
#   lib/                      libzorvan.so.1, libdrovik32.so.1 (and the
#                             libdrovik32.so name scanning programs load),
#                             libquentysti.so with its .tlb (a COM server: no
#                             version in its name, its registration names it)
#   lib/lumarc/               liblumarcplatform.so.1, private to the project
#   include/lumarc/           zorvan.h, aspi.h, quentysti.h
#   lib/pkgconfig/            zorvan.pc, drovik32.pc, quentysti.pc
#   share/man/man1/           a page for every program, from its --help
#   share/bash-completion/    completions
#   /etc/xdg/autostart/, lib/systemd/user/  the event module at log-in
#
# The package is made from a build configured with CMAKE_INSTALL_PREFIX=/usr
# (scripts/package.sh), so that the libraries land in the multiarch folder
# and the pkg-config files name /usr.
include(GNUInstallDirs)

set(LUMARC_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/lumarc)

foreach(library zorvan drovik32 lumarcplatform)
    set_target_properties(${library} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION 1)
endforeach()

install(TARGETS zorvan drovik32 quentysti
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS lumarcplatform LIBRARY DESTINATION ${LUMARC_PRIVATE_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/stidev/quentysti.tlb DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RENAME libquentysti.tlb)
install(TARGETS lumarc lumarc-ini lumarc-scan lumarc-unitsim lumarc-regsvr
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/mgmt/zorvan.h ${CMAKE_SOURCE_DIR}/scsinet/aspi.h
              ${CMAKE_SOURCE_DIR}/stidev/quentysti.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lumarc)
foreach(library zorvan drovik32 quentysti)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/${library}.pc.in
                   ${CMAKE_BINARY_DIR}/packaging/${library}.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/${library}.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# Manual pages from the programs' own --help and --version.
find_program(HELP2MAN help2man)
if(HELP2MAN)
    set(LUMARC_MAN_PROGRAMS lumarc lumarc-ini lumarc-scan lumarc-unitsim lumarc-regsvr kicklet)
    if(TARGET gaugery)
        list(APPEND LUMARC_MAN_PROGRAMS gaugery)
    endif()
    if(TARGET unitdesk)
        list(APPEND LUMARC_MAN_PROGRAMS unitdesk)
    endif()
    set(LUMARC_MAN_NAME_lumarc "manage Lumarc network scanner units")
    set(LUMARC_MAN_NAME_lumarc-ini "read and change the Lumarc settings files safely")
    set(LUMARC_MAN_NAME_lumarc-scan "scan a page from a Lumarc unit's scanner into a PNG image")
    set(LUMARC_MAN_NAME_lumarc-unitsim "simulated Lumarc units, for tests and trials")
    set(LUMARC_MAN_NAME_lumarc-regsvr "register an in-process COM server for this user")
    set(LUMARC_MAN_NAME_kicklet "the Lumarc event module: programs for a unit's buttons")
    set(LUMARC_MAN_NAME_gaugery "the Lumarc scanner information tool")
    set(LUMARC_MAN_NAME_unitdesk "the Lumarc configuration tool")
    set(LUMARC_MAN_PAGES)
    foreach(program ${LUMARC_MAN_PROGRAMS})
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                    ${HELP2MAN} --no-info --section=1 --no-discard-stderr
                    "--name=${LUMARC_MAN_NAME_${program}}"
                    --source=Lumarc --output=${page} $<TARGET_FILE:${program}>
            COMMAND gzip -n -9 -f ${page}
            DEPENDS ${program}
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND LUMARC_MAN_PAGES ${page}.gz)
    endforeach()
    add_custom_target(man ALL DEPENDS ${LUMARC_MAN_PAGES})
    install(FILES ${LUMARC_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/packaging/bash-completion/lumarc
              ${CMAKE_SOURCE_DIR}/packaging/bash-completion/lumarc-scan
              ${CMAKE_SOURCE_DIR}/packaging/bash-completion/lumarc-ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The Debian package.
set(CPACK_PACKAGE_NAME lumarc)
set(CPACK_PACKAGE_VENDOR "Lumarc PC software")
set(CPACK_PACKAGE_CONTACT "Lumarc PC software maintainers <maintainers@lumarc.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "PC software for Lumarc network scanner units: management, scanning, button events")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR ON)  # the autostart entry's folder is absolute
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# (CPack adds the ldconfig calls itself.)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/conffiles)
set(CPACK_GENERATOR DEB)
include(CPack)
