# Installs the build into a fresh prefix, checks the installed layout, then
# configures, builds and runs the consumer project against that prefix only.
# cmake -DBUILD_DIR= -DWORK_DIR= -DCONSUMER_DIR= -DCONFIG= -DGENERATOR= -DMAKE_PROGRAM=
#       -DCXX_COMPILER= -DCXX_FLAGS= -DLINKER_FLAGS= -DWERROR= -P package_test.cmake
cmake_minimum_required(VERSION 3.25)

function(run step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${step} failed (${rc}):\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run(install ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})

# Public headers only: no sources, no application internals, no tests.
foreach(f IN ITEMS dnls/solver/dnls.hpp dnls/messages/xerror.hpp dnls/messages/machine.hpp
                   dnls/io/format.hpp dnls/io/units.hpp korvalinde/records/result.hpp
                   korvalinde/korvalinde.hpp)
  if(NOT EXISTS ${prefix}/include/${f})
    message(FATAL_ERROR "not installed: include/${f}")
  endif()
endforeach()
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
foreach(f IN LISTS headers)
  set(public "dnls/(solver|messages|io)/[^/]+|korvalinde/(korvalinde|core/(fit|options)|input/sample_reader")
  string(APPEND public "|(stats|dist|records)/[^/]+)")
  if(NOT f MATCHES "^(${public})\\.hpp$")
    message(FATAL_ERROR "not a public header: include/${f}")
  endif()
endforeach()
file(GLOB_RECURSE config ${prefix}/*/korvalindeConfig.cmake)
file(GLOB_RECURSE program ${prefix}/bin/korvalinde)
if(NOT config OR NOT program)
  message(FATAL_ERROR "package configuration or program not installed")
endif()

set(args -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_BUILD_TYPE=${CONFIG}
         -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
         "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
         -DCONSUMER_WERROR=${WERROR})
if(MAKE_PROGRAM)
  list(APPEND args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()

run(configure ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build ${args})
file(REAL_PATH ${prefix} real_prefix)
string(FIND "${last_output}" "in ${real_prefix}/" at)
string(FIND "${last_output}" "in ${prefix}/" at2)
if(at EQUAL -1 AND at2 EQUAL -1)
  message(FATAL_ERROR "the package was not found in ${prefix}:\n${last_output}")
endif()
run(build ${CMAKE_COMMAND} --build ${WORK_DIR}/build --config ${CONFIG})
run(consumer ${WORK_DIR}/build/bin/consumer)
message(STATUS "${last_output}")

# The version file refuses a later minor version.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build-version ${args}
                        -DKORVALINDE_WANTED=0.4
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  message(FATAL_ERROR "find_package(korvalinde 0.4) accepted the installed 0.3 package")
endif()
