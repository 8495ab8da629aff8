# The python3 that the Python package skarvolt and its tests are built for: the first that
# imports NumPy of -DSKARVOLT_PYTHON3=PATH, the PATH's python3 and Debian's /usr/bin/python3.
# The PATH's may be another than Debian's (pyenv's, say) and lack NumPy, so the choice is
# said in one line, which names the interpreter the README's commands need.
# Sets SKARVOLT_NUMPY_PYTHON in the caller's scope, empty when none has NumPy.
function(skarvolt_find_numpy_python)
  find_program(path_python3 python3 NO_CACHE)
  set(chosen "")
  foreach(candidate IN ITEMS ${SKARVOLT_PYTHON3} ${path_python3} /usr/bin/python3)
    if(NOT chosen AND EXISTS ${candidate})
      execute_process(COMMAND ${candidate} -c "import numpy" RESULT_VARIABLE numpy_found
                      OUTPUT_QUIET ERROR_QUIET)
      if(numpy_found EQUAL 0)
        set(chosen ${candidate})
      endif()
    endif()
  endforeach()
  if(chosen)
    message(STATUS "The Python package skarvolt is for ${chosen}, the first python3 with NumPy "
                   "(-DSKARVOLT_PYTHON3=PATH chooses another)")
  else()
    message(STATUS "The Python package skarvolt skipped: python3 with NumPy is missing "
                   "(package python3-numpy; -DSKARVOLT_PYTHON=OFF says nothing)")
  endif()
  set(SKARVOLT_NUMPY_PYTHON ${chosen} PARENT_SCOPE)
endfunction()
