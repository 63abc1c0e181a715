korvalinde_add_test(test_messages
  LIBS dnls_messages
  LABELS dnls
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/units_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/machine_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xerprn_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xermsg_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/per_thread_test.cpp)
