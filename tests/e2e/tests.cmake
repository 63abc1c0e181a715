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
set(fault_checks read_error fifo stdin_sample result_atomic result_write_fails broken_pipe tiny_scale
    restored)
# Sanitizers reserve more address space than the memory limit allows.
if(NOT KORVALINDE_SANITIZE)
  list(APPEND fault_checks long_names)
endif()
add_test(NAME e2e.man_page COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/man_page.sh $<TARGET_FILE:korvalinde> ${PROJECT_SOURCE_DIR})
foreach(check IN LISTS fault_checks)
  add_test(NAME e2e.faults.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/classic_faults.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR}/examples/sample.txt ${check})
endforeach()

# The fit command.
foreach(check report json svg images usage columns threads classic_equal outputs options
              write_errors atomic endless scales gev_uncertainty headline meta glossary)
  add_test(NAME e2e.fit.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/fit_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} ${check})
endforeach()
# Memory limits: sanitizers reserve more address space than they allow.
if(NOT KORVALINDE_SANITIZE)
  add_test(NAME e2e.fit.memory
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/fit_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} memory)
endif()
# Files and bootstrap replicates on several threads, the GEV's too (run under
# ThreadSanitizer too).
set_tests_properties(e2e.fit.threads e2e.fit.gev_uncertainty PROPERTIES LABELS threads)

# The fit command with the further families.
foreach(check json order errors mle properties scale support boot)
  add_test(NAME e2e.families.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/families_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} ${check})
endforeach()

# The fit command on dated records.
foreach(check annual_maxima reader_errors time_formats groups_and_pot threads plain_files
              pot_picture groups_in_order outputs irregular_record group_pictures)
  add_test(NAME e2e.dated.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/dated_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} ${check})
endforeach()
set_tests_properties(e2e.dated.threads e2e.dated.groups_in_order PROPERTIES LABELS threads)
if(NOT KORVALINDE_SANITIZE)  # memory limits
  add_test(NAME e2e.dated.limits
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/dated_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} limits)
endif()

# Inputs that could make the reading unbounded, or change while they are read
# (sanitizers keep memory of their own: no memory figures then).
set(limits_memory "")
if(KORVALINDE_SANITIZE)
  set(limits_memory sanitized)
endif()
foreach(check endless_line far_years stdin_offset truncated)
  add_test(NAME e2e.limits.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/limits.sh $<TARGET_FILE:korvalinde> ${check}
                   ${limits_memory})
endforeach()
set_tests_properties(e2e.limits.truncated PROPERTIES LABELS slow)

# Every command the README shows.
add_test(NAME e2e.readme_commands
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/readme_commands.sh $<TARGET_FILE:korvalinde>
                 ${PROJECT_SOURCE_DIR})

# What the readers make of lines and fields.
foreach(check header_numbers bom quotes separators duplicates columns line_ends spread)
  add_test(NAME e2e.reader.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/reader_faults.sh $<TARGET_FILE:korvalinde> ${check})
  set_tests_properties(e2e.reader.${check} PROPERTIES LABELS reader)
endforeach()

# The idf command.
foreach(check windows table errors picture meta)
  add_test(NAME e2e.idf.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/idf_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} ${check})
endforeach()

# Outputs, signals, option values and the picture helper under hostile use.
foreach(check files signals options helper)
  add_test(NAME e2e.cli.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/output_faults.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} ${check})
  set_tests_properties(e2e.cli.${check} PROPERTIES SKIP_RETURN_CODE 77)
endforeach()

# The fit command with covariates.
foreach(check venice unchanged table dispersion pot errors)
  add_test(NAME e2e.covariates.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/covariates_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} ${check})
endforeach()

# The region command.
foreach(check files summary dated errors meta)
  add_test(NAME e2e.region.${check}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/region_cli.sh $<TARGET_FILE:korvalinde>
                   ${PROJECT_SOURCE_DIR} ${check})
endforeach()
