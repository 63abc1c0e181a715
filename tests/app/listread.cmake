# List-directed reader of the control input.
korvalinde_add_test(test_listread LIBS korvalinde_classic SOURCES ${CMAKE_CURRENT_LIST_DIR}/listread_test.cpp)
