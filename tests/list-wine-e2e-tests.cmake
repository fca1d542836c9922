# Read by ctest each time it runs, so that the Wine end-to-end tests are the
# ones the runner holds as it is built now. Set by the including file:
#   runner       the native e2e_windows_tests program
#   environment  the tests' environment
#   skip         a command that gives Wine's absence as the reason to skip,
#                or empty where Wine is there
function(add_wine_test name)
  if(skip)
    add_test(${name} ${skip})
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  else()
    add_test(${name} ${ARGN})
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine
      SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
      ENVIRONMENT "${environment}")
  endif()
endfunction()

set(listing "")
set(listed 1)
if(EXISTS "${runner}")
  execute_process(COMMAND "${runner}" --gtest_list_tests
                  OUTPUT_VARIABLE listing RESULT_VARIABLE listed)
endif()
if(NOT listed EQUAL 0)
  # A test that fails and says why, rather than none at all.
  add_test(wine.e2e_tests sh -c
           "echo 'cannot list the tests of ${runner}: build the native tree first' && exit 1")
  return()
endif()
string(REGEX REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z0-9_]+)\\.$")
    set(suite ${CMAKE_MATCH_1})
  elseif(line MATCHES "^  ([A-Za-z0-9_]+)")
    set(name ${suite}.${CMAKE_MATCH_1})
    add_wine_test(wine.${name} "${runner}" --gtest_filter=${name})
  endif()
endforeach()
