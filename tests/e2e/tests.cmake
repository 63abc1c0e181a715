# Every recorded case runs the built tool and compares its outputs: cases/ holds
# the reference runs, local/ the project's own (mended faults and rejections).
foreach(set cases local)
  file(GLOB e2e_cases LIST_DIRECTORIES true ${CMAKE_CURRENT_LIST_DIR}/${set}/*)
  foreach(dir IN LISTS e2e_cases)
    if(IS_DIRECTORY ${dir})
      get_filename_component(name ${dir} NAME)
      add_test(NAME e2e.${set}.${name}
               COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_case.sh $<TARGET_FILE:korvalinde> ${dir})
    endif()
  endforeach()
endforeach()

# The classic run on inputs that once went wrong.
foreach(check read_error long_names fifo stdin_sample result_atomic result_write_fails broken_pipe
              tiny_scale)
  add_test(NAME e2e.faults.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/classic_faults.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR}/examples/sample.txt ${check})
endforeach()
