# Run by CPack in the package's staging tree, before it is packed: Debian keeps games in
# /usr/games and wants the manual pages and the changelog compressed, here without names
# or times in the compressed files so that the package builds the same again.
set(usr ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})

if(NOT CPACK_SKARVOLT_BINDIR STREQUAL "games")
  file(GLOB programs ${usr}/${CPACK_SKARVOLT_BINDIR}/*)
  file(MAKE_DIRECTORY ${usr}/games)
  foreach(program IN LISTS programs)
    get_filename_component(name ${program} NAME)
    file(RENAME ${program} ${usr}/games/${name})
  endforeach()
  file(REMOVE_RECURSE ${usr}/${CPACK_SKARVOLT_BINDIR})
endif()

file(COPY_FILE ${CPACK_SKARVOLT_CHANGELOG} ${usr}/${CPACK_SKARVOLT_DOCDIR}/changelog)
file(GLOB pages ${usr}/${CPACK_SKARVOLT_MANDIR}/man6/*.6)
foreach(file IN LISTS pages ITEMS ${usr}/${CPACK_SKARVOLT_DOCDIR}/changelog)
  execute_process(COMMAND gzip -9n ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${file}")
  endif()
endforeach()
