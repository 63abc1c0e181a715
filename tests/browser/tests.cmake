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
