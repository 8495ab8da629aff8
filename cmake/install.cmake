# Installs the game the way a desktop expects it (program, manual pages, desktop entry,
# icons, metainfo, licence) and describes the Debian package that `cpack -G DEB` builds
# from the same rules. Nothing here writes outside the build tree and the install prefix.

include(GNUInstallDirs)

# Debian and others keep games apart from other programs: -DSKARVOLT_INSTALL_BINDIR=games.
# The Debian package does so whatever this says.
set(SKARVOLT_INSTALL_BINDIR "${CMAKE_INSTALL_BINDIR}" CACHE STRING
    "Directory, relative to the install prefix, for the game and the simulator")

set(skarvolt_data ${PROJECT_SOURCE_DIR}/data)
set(skarvolt_icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
set(skarvolt_generated ${PROJECT_BINARY_DIR}/generated)

# The licence, in the machine-readable form that Debian reads, made from LICENSE: its
# text indented by one space, blank lines as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX MATCH "\nCopyright \\(c\\) ([^\n]+)\n\n" _ "${licence}")
set(copyright_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*\nCopyright [^\n]+\n\n" "" licence_text "${licence}")
string(STRIP "${licence_text}" licence_text)
string(REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
string(REPLACE "\n" "\n " licence_text " ${licence_text}")
file(CONFIGURE OUTPUT ${skarvolt_generated}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Skarvolt

Files: *
Copyright: ${copyright_holder}
License: MIT

License: MIT
${licence_text}
")

install(TARGETS skarvolt RUNTIME DESTINATION ${SKARVOLT_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/man/skarvolt.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${skarvolt_data}/skarvolt.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${skarvolt_data}/icons/skarvolt-48.png
        DESTINATION ${skarvolt_icons}/48x48/apps RENAME skarvolt.png)
install(FILES ${skarvolt_data}/icons/skarvolt.svg DESTINATION ${skarvolt_icons}/scalable/apps)
install(FILES ${skarvolt_data}/org.skarvolt.Skarvolt.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${skarvolt_generated}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The headless simulator ships beside the game, with its own manual page.
install(TARGETS skarvolt-sim RUNTIME DESTINATION ${SKARVOLT_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/man/skarvolt-sim.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

# The leaderboard server, where it is built, in the install tree but not in the package:
# it is a service, not a part of the game (component server).
if(SKARVOLT_HAVE_SERVER)
  install(TARGETS skarvolt-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
  install(FILES ${PROJECT_BINARY_DIR}/man/skarvolt-server.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
# The game's own files only: the Python package (component python) is installed by
# `cmake --install` and kept out of the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
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
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The libraries the programs link (freeglut, GL, Xlib, the C and C++ run-times, and GCC's
# unwinder, through which the ghost's reader closes its file when memory runs out) with their
# versions, from dpkg-shlibdeps; without it, the packages that hold the libraries the game
# needs, by name (tests/package checks this list against dpkg-shlibdeps where it is).
set(SKARVOLT_FALLBACK_DEPENDS "libc6, libgcc-s1, libstdc++6, libglut3.12, libglx0, libopengl0, libx11-6")
find_program(SKARVOLT_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(SKARVOLT_DPKG_SHLIBDEPS)
if(SKARVOLT_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found (package dpkg-dev): the Debian package "
                 "depends on ${SKARVOLT_FALLBACK_DEPENDS}, without versions")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${SKARVOLT_FALLBACK_DEPENDS}")
endif()

# The package's changelog, one entry per release of the metainfo (newest first), dated
# at noon UTC of the release's day.
file(STRINGS ${skarvolt_data}/org.skarvolt.Skarvolt.metainfo.xml releases
     REGEX "<release version=")
set(changelog "")
set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
set(weekdays Sun Mon Tue Wed Thu Fri Sat)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
foreach(release IN LISTS releases)
  string(REGEX MATCH "version=\"([^\"]+)\"" _ "${release}")
  set(release_version ${CMAKE_MATCH_1})
  string(REGEX MATCH "date=\"([0-9]+)-([0-9]+)-([0-9]+)\"" _ "${release}")
  set(y ${CMAKE_MATCH_1})
  math(EXPR m "${CMAKE_MATCH_2}")
  math(EXPR d "${CMAKE_MATCH_3}")
  # The weekday (Sakamoto's method) and the month's name that the date line wants.
  math(EXPR mi "${m} - 1")
  list(GET month_offsets ${mi} t)
  set(yy ${y})
  if(m LESS 3)
    math(EXPR yy "${y} - 1")
  endif()
  math(EXPR wd "(${yy} + ${yy} / 4 - ${yy} / 100 + ${yy} / 400 + ${t} + ${d}) % 7")
  list(GET weekdays ${wd} weekday)
  list(GET months ${mi} month)
  string(APPEND changelog
    "skarvolt (${release_version}) unstable; urgency=medium\n\n"
    "  * Release ${release_version}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${weekday}, ${d} ${month} ${y} 12:00:00 +0000\n\n")
endforeach()
string(REGEX REPLACE "\n\n$" "\n" changelog "${changelog}")
file(CONFIGURE OUTPUT ${skarvolt_generated}/changelog CONTENT "${changelog}")

# Debian's layout, made in the package's staging tree before it is packed: the programs
# in /usr/games, the manual pages and the changelog compressed.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian-layout.cmake)
set(CPACK_SKARVOLT_BINDIR ${SKARVOLT_INSTALL_BINDIR})
set(CPACK_SKARVOLT_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_SKARVOLT_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_SKARVOLT_CHANGELOG ${skarvolt_generated}/changelog)

# Source tarball: the tree without version control, build directories and the browser
# tests' installed driver.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "^${PROJECT_SOURCE_DIR}/\\\\.git/" "^${PROJECT_SOURCE_DIR}/build[^/]*/"
    "^${PROJECT_SOURCE_DIR}/tests/web/node_modules/")

include(CPack)
