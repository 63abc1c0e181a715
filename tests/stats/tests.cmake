korvalinde_add_test(test_stats LIBS korvalinde_stats LABELS threads SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/dist_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/family_mle_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gev_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gev_errors_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gpd_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/nonstationary_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/nonstationary_reference_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/idf_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kappa_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pot_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/region_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stats_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vmath_test.cpp)
target_compile_definitions(test_stats PRIVATE
  KORVALINDE_STATS_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
# Long simulations of the regional measures (seconds).
korvalinde_add_test(test_region_simulation LIBS korvalinde_stats LABELS slow SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/region_sim_test.cpp)
# The maximum-likelihood sweep on 10^6 values.
korvalinde_add_test(test_family_mle_slow LIBS korvalinde_stats LABELS slow SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/family_mle_test.cpp)
target_compile_definitions(test_family_mle_slow PRIVATE KORVALINDE_SLOW_TESTS
  KORVALINDE_STATS_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
# The robustness sweep of the fits with covariates on 10^5 values.
korvalinde_add_test(test_nonstationary_slow LIBS korvalinde_stats LABELS slow SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/nonstationary_sweep_test.cpp)
