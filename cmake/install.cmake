# Installation and the CMake package. A consumer writes
#   find_package(korvalinde 0.3 REQUIRED)
#   target_link_libraries(app PRIVATE korvalinde::dnls)   # solver, messages, text layer
#   target_link_libraries(app PRIVATE korvalinde::core)   # fitting core (links korvalinde::dnls)
#   #include "korvalinde/korvalinde.hpp"                  # its interface
include(CMakePackageConfigHelpers)

set(KORVALINDE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvalinde)

install(TARGETS korvalinde korvalinde-image RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS dnls_io dnls_messages dnls_solver dnls korvalinde_base korvalinde_input
        korvalinde_stats korvalinde_core
        EXPORT korvalindeTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Public headers only: the sources, the application's internal headers and
# the tests stay in the source tree.
install(FILES dnls/solver/dnls.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dnls/solver)
install(FILES dnls/messages/xerror.hpp dnls/messages/machine.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dnls/messages)
install(FILES dnls/io/format.hpp dnls/io/units.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dnls/io)
# The fitting interface (korvalinde/korvalinde.hpp includes it all); the
# helpers under detail/, the number grammar and the histogram least-squares
# internals stay private.
install(FILES korvalinde/korvalinde.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvalinde)
install(FILES korvalinde/core/fit.hpp korvalinde/core/options.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvalinde/core)
install(FILES korvalinde/input/sample_reader.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvalinde/input)
foreach(dir dist records stats)
  install(DIRECTORY korvalinde/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvalinde/${dir}
          FILES_MATCHING PATTERN "*.hpp")
endforeach()

install(EXPORT korvalindeTargets NAMESPACE korvalinde:: DESTINATION ${KORVALINDE_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/korvalindeConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/korvalindeConfig.cmake
                              INSTALL_DESTINATION ${KORVALINDE_CMAKE_DIR})
# Before 1.0 a minor release may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/korvalindeConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/korvalindeConfig.cmake
              ${PROJECT_BINARY_DIR}/korvalindeConfigVersion.cmake
        DESTINATION ${KORVALINDE_CMAKE_DIR})

foreach(page IN ITEMS ${PROJECT_SOURCE_DIR}/doc/korvalinde.1 ${PROJECT_SOURCE_DIR}/korvalinde.1)
  if(EXISTS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    break()
  endif()
endforeach()
