# The text's glyphs, taken from the system's freeglut at every build: a small program of
# this machine's (not the browser's) prints them, in a private Xvfb since freeglut wants
# a display even to hand out its glyphs. Only a changed table is written, so an unchanged
# one is not compiled again. The browser and the training environment's pictures, which
# have no GLUT of their own, draw their text from it.
#
# skarvolt_font_table(VAR): VAR is the generated table's source file.
function(skarvolt_font_table var)
  find_program(SKARVOLT_HOST_CXX NAMES c++ g++ REQUIRED)
  set(werror_flag "")
  if(CMAKE_COMPILE_WARNING_AS_ERROR)
    set(werror_flag -Werror)
  endif()
  set(web ${PROJECT_SOURCE_DIR}/src/platform/web)
  set(gen ${PROJECT_BINARY_DIR}/gen)
  set(font_dump ${gen}/font_dump)
  add_custom_command(
    OUTPUT ${font_dump}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gen}
    COMMAND ${SKARVOLT_HOST_CXX} -std=c++20 -O1 -Wall -Wextra ${werror_flag}
            -I${PROJECT_SOURCE_DIR}/src ${web}/font_dump.cpp
            -lglut -lGL -o ${font_dump}
    DEPENDS ${web}/font_dump.cpp ${web}/font.h
    COMMENT "The glyph dumper, with this machine's freeglut"
    VERBATIM)
  add_custom_command(
    OUTPUT ${gen}/font_table.cpp
    COMMAND ${PROJECT_SOURCE_DIR}/tools/with-xvfb ${font_dump} ${gen}/font_table.cpp.new
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${gen}/font_table.cpp.new ${gen}/font_table.cpp
    COMMAND ${CMAKE_COMMAND} -E remove ${gen}/font_table.cpp.new
    DEPENDS ${font_dump}
    COMMENT "The glyph table of freeglut's font"
    VERBATIM)
  set(${var} ${gen}/font_table.cpp PARENT_SCOPE)
endfunction()
