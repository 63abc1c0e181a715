# What the Python module needs: Debian's interpreter with its headers and NumPy,
# and pybind11. The interpreter is /usr/bin/python3 unless Python3_EXECUTABLE
# says otherwise, so that a pyenv or virtual-environment python3 earlier on
# PATH (without Debian's modules) is not picked up.
#
# KORVALINDE_PYTHON defaults to ON when all of it is found and to OFF, with a
# message, when not; asking for ON explicitly without it is an error.
# Sanitizer builds leave the module out: loading it would need the sanitizer
# runtime preloaded into the interpreter.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3
      CACHE FILEPATH "Interpreter the Python module is built for")
endif()

set(korvalinde_python_missing "")
if(KORVALINDE_SANITIZE)
  set(korvalinde_python_missing "a sanitizer build")
elseif(NOT DEFINED KORVALINDE_PYTHON OR KORVALINDE_PYTHON)
  find_package(Python3 3.9 QUIET COMPONENTS Interpreter Development.Module NumPy)
  if(NOT Python3_FOUND)
    set(korvalinde_python_missing "Python 3 with headers and NumPy (python3-dev, python3-numpy)")
  else()
    # After Python3 is found, pybind11 uses that same interpreter.
    find_package(pybind11 2.6 CONFIG QUIET)
    if(NOT pybind11_FOUND)
      set(korvalinde_python_missing "pybind11 (pybind11-dev)")
    endif()
  endif()
endif()

if(korvalinde_python_missing STREQUAL "")
  option(KORVALINDE_PYTHON "Build the Python module" ON)
elseif(KORVALINDE_PYTHON AND NOT korvalinde_python_missing STREQUAL "a sanitizer build")
  message(FATAL_ERROR "KORVALINDE_PYTHON is ON but ${korvalinde_python_missing} was not found "
                      "(scripts/setup.sh --python installs it)")
elseif(korvalinde_python_missing STREQUAL "a sanitizer build")
  message(STATUS "Python module: off in a sanitizer build")
  set(KORVALINDE_PYTHON OFF)
else()
  message(STATUS "Python module: off, ${korvalinde_python_missing} not found "
                 "(scripts/setup.sh --python installs it)")
  set(KORVALINDE_PYTHON OFF)
endif()
