find_program(XMLLINT xmllint)
korvalinde_add_test(test_cli LIBS korvalinde_cli korvalinde_core SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/json_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/meta_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/svg_test.cpp)
if(XMLLINT)
  target_compile_definitions(test_cli PRIVATE XMLLINT="${XMLLINT}")
endif()

# The manual page must format without a single warning.
find_program(GROFF groff)
if(GROFF)
  add_test(NAME cli.man_page_lint
           COMMAND sh -c "out=$(\"$0\" -man -ww -z \"$1\" 2>&1) && test -z \"$out\" || { printf '%s\\n' \"$out\"; exit 1; }"
                   ${GROFF} ${PROJECT_SOURCE_DIR}/doc/korvalinde.1)
endif()
