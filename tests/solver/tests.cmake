korvalinde_add_test(test_solver LIBS dnls_solver LABELS dnls SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/linalg_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dnls1_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/threads_test.cpp)
