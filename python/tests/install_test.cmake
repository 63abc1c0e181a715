# Installs the Python module into a fresh prefix and fits a sample with the
# installed copy alone (the build tree is not on the path).
# cmake -D BUILD_DIR=... -D PREFIX=... -D MODULE_DIR=... -D PYTHON=... -P install_test.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                        --component python
                COMMAND_ERROR_IS_FATAL ANY)
foreach(f korvalinde/_korvalinde.pyi korvalinde/py.typed korvalinde/xarray.py)
  if(NOT EXISTS ${PREFIX}/${MODULE_DIR}/${f})
    message(FATAL_ERROR "${f} was not installed to ${PREFIX}/${MODULE_DIR}")
  endif()
endforeach()
set(check [=[
import math, sys, korvalinde
where = korvalinde.__file__
assert where.startswith(sys.argv[1]), where
x = [10 - 2 * math.log(-math.log((i + 0.5) / 200)) for i in range(200)]
r = korvalinde.fit(x, bins=20)
assert r["ok"] and r["n"] == 200, r
print("installed module", korvalinde.__version__, "fits:", where)
]=])
execute_process(COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${PREFIX}/${MODULE_DIR}
                        ${PYTHON} -s -c "${check}" ${PREFIX}
                WORKING_DIRECTORY ${PREFIX}
                COMMAND_ERROR_IS_FATAL ANY)
