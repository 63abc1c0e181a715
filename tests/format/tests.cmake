korvalinde_add_test(test_format LIBS dnls_messages SOURCES ${CMAKE_CURRENT_LIST_DIR}/format_test.cpp)
