korvalinde_add_test(test_format LIBS dnls_messages SOURCES ${CMAKE_CURRENT_LIST_DIR}/format_test.cpp)
# Switches the process locale: kept out of the other format tests.
korvalinde_add_test(test_locale LIBS dnls_messages SOURCES ${CMAKE_CURRENT_LIST_DIR}/locale_test.cpp)
