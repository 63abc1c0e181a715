korvalinde_add_test(test_app LIBS korvalinde_core SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/histogram_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model_test.cpp)
