find_program(XMLLINT xmllint)
korvalinde_add_test(test_cli LIBS korvalinde_cli SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/json_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/svg_test.cpp)
if(XMLLINT)
  target_compile_definitions(test_cli PRIVATE XMLLINT="${XMLLINT}")
endif()

