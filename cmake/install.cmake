# Installs the game the way a desktop expects it (program, manual pages, desktop entry,
# icons, metainfo) and describes the Debian package that `cpack -G DEB` builds from the
# same rules. Nothing here writes outside the build tree and the install prefix.

include(GNUInstallDirs)

# Debian and others keep games apart from other programs: -DSKARVOLT_INSTALL_BINDIR=games.
set(SKARVOLT_INSTALL_BINDIR "${CMAKE_INSTALL_BINDIR}" CACHE STRING
    "Directory, relative to the install prefix, for the game and the simulator")

set(skarvolt_data ${PROJECT_SOURCE_DIR}/data)
set(skarvolt_icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

install(TARGETS skarvolt RUNTIME DESTINATION ${SKARVOLT_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/skarvolt.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${skarvolt_data}/skarvolt.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${skarvolt_data}/icons/skarvolt-48.png
        DESTINATION ${skarvolt_icons}/48x48/apps RENAME skarvolt.png)
install(FILES ${skarvolt_data}/icons/skarvolt.svg DESTINATION ${skarvolt_icons}/scalable/apps)
install(FILES ${skarvolt_data}/org.skarvolt.Skarvolt.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The headless simulator ships beside the game, with its own manual page.
if(TARGET skarvolt-sim)
  install(TARGETS skarvolt-sim RUNTIME DESTINATION ${SKARVOLT_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/man/skarvolt-sim.6
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skarvolt)
set(CPACK_PACKAGE_VENDOR "Skarvolt")
set(CPACK_PACKAGE_CONTACT "Skarvolt maintainers <maintainers@skarvolt.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# One paragraph, wrapped as a Debian control file wants it.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Hold any mouse button and the ship climbs; let go and it falls. The tunnel"
  "scrolls past from right to left, its passage narrows the further you fly, and"
  "every fifty columns a block stands in the way. The best score is kept from one"
  "game to the next. Includes skarvolt-sim, which plays runs from a script without"
  "a window.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (freeglut, GL, the C run-time) with their versions,
# from dpkg-shlibdeps; without it, a list by name.
find_program(SKARVOLT_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(SKARVOLT_DPKG_SHLIBDEPS)
if(SKARVOLT_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, freeglut3 | libglut3.12, libgl1")
endif()

# Source tarball: the tree without version control and build directories.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "^${PROJECT_SOURCE_DIR}/\\\\.git/" "^${PROJECT_SOURCE_DIR}/build[^/]*/")

include(CPack)
