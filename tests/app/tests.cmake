korvalinde_add_test(test_app LIBS korvalinde_classic SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/histogram_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/parse_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fit_equal_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/parallel_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/covariates_test.cpp)
target_compile_definitions(test_app PRIVATE KORVALINDE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# Allocation counting replaces malloc, and sanitizers change the memory
# figures: both run in the plain builds only.
if(NOT KORVALINDE_SANITIZE)
  korvalinde_add_test(test_alloc LIBS korvalinde_classic SOURCES ${CMAKE_CURRENT_LIST_DIR}/alloc_test.cpp)
  korvalinde_add_test(test_memory LABELS slow SOURCES ${CMAKE_CURRENT_LIST_DIR}/memory_test.cpp)
  # Billions of digits: seconds of scanning and gigabytes of mapped pages.
  korvalinde_add_test(test_long_tokens LIBS korvalinde_input LABELS slow
                      SOURCES ${CMAKE_CURRENT_LIST_DIR}/long_token_test.cpp)
  target_compile_definitions(test_memory PRIVATE KORVALINDE_BINARY="$<TARGET_FILE:korvalinde>")
  add_dependencies(test_memory korvalinde)
endif()
