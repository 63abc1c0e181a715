# The HTML report in headless Chromium. Labelled "browser": skip it with
# `ctest -LE browser` where no browser is installed.
find_program(CHROMIUM NAMES chromium chromium-browser)
if(NOT CHROMIUM)
  set(CHROMIUM chromium)  # the test then fails and says so
endif()
add_test(NAME browser.html_report
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/html_report.sh $<TARGET_FILE:korvalinde>
                 ${PROJECT_SOURCE_DIR} ${CHROMIUM})
set_tests_properties(browser.html_report PROPERTIES LABELS browser TIMEOUT 300)

# The pictures' labels as Chromium lays them out in a 1280 x 900 window.
add_test(NAME browser.picture_layout
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/picture_layout.sh $<TARGET_FILE:korvalinde>
                 ${PROJECT_SOURCE_DIR} ${CHROMIUM})
set_tests_properties(browser.picture_layout PROPERTIES LABELS browser TIMEOUT 600)
