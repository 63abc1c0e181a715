# Installs the current build and builds a consumer project against it. The
# consumer gets the same compiler, generator and flags (sanitizer builds link
# the sanitizer runtimes into it too), so the test runs under every preset.
if(KORVALINDE_SANITIZE)
  set(sanitize -fsanitize=${KORVALINDE_SANITIZE})
endif()
add_test(NAME package.consumer
         COMMAND ${CMAKE_COMMAND}
                 -DBUILD_DIR=${PROJECT_BINARY_DIR}
                 -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/package
                 -DCONSUMER_DIR=${CMAKE_CURRENT_LIST_DIR}/consumer
                 -DCONFIG=$<CONFIG>
                 -DGENERATOR=${CMAKE_GENERATOR}
                 -DMAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}
                 -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
                 "-DCXX_FLAGS=${CMAKE_CXX_FLAGS} ${sanitize}"
                 "-DLINKER_FLAGS=${CMAKE_EXE_LINKER_FLAGS} ${sanitize}"
                 -DWERROR=${KORVALINDE_WERROR}
                 -P ${CMAKE_CURRENT_LIST_DIR}/package_test.cmake)
set_tests_properties(package.consumer PROPERTIES LABELS package TIMEOUT 300)
