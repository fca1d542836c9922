# tamsor.exe end to end on Windows itself (or under Wine, as LAUNCHER), with
# no test runner but CMake: the report's shape after the child's output,
# the exit status, a wildcard expanded by tamsor's start-up, and a batch
# child whose arguments cmd.exe must read as data.
#   cmake -DTAMSOR=tamsor.exe -DHELPER=tamsor_helper.exe -DWORK=dir
#         [-DLAUNCHER=wine] -P windows-e2e.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(TOUCH ${WORK}/one.tmsr ${WORK}/two.tmsr)
file(WRITE ${WORK}/show.bat "@echo off\r\necho one=%1\r\necho two=%2\r\nexit /b 4\r\n")

# Runs tamsor with ARGN in WORK; sets `out` (line ends as \n) and `status`.
function(run_tamsor)
  execute_process(COMMAND ${LAUNCHER} ${TAMSOR} ${ARGN}
                  WORKING_DIRECTORY ${WORK}
                  OUTPUT_VARIABLE output ERROR_VARIABLE output
                  RESULT_VARIABLE result)
  string(REPLACE "\r\n" "\n" output "${output}")
  set(out "${output}" PARENT_SCOPE)
  set(status "${result}" PARENT_SCOPE)
endfunction()

function(fail what)
  message(FATAL_ERROR "${what}\nstatus ${status}, output:\n${out}")
endfunction()

# The child's output, then a blank line and four figures, real = user + sys.
function(expect_report child_output)
  set(figure "([0-9]+)\\.([0-9][0-9][0-9]) s\n")
  if(NOT status EQUAL 0 OR NOT out MATCHES
     "^${child_output}\nwall   ${figure}real   ${figure}user   ${figure}sys    ${figure}$")
    fail("no report after the child's output")
  endif()
  math(EXPR real "${CMAKE_MATCH_3} * 1000 + ${CMAKE_MATCH_4}")
  math(EXPR sum "${CMAKE_MATCH_5} * 1000 + ${CMAKE_MATCH_6} + ${CMAKE_MATCH_7} * 1000 + ${CMAKE_MATCH_8}")
  if(NOT real EQUAL sum)
    fail("real is not user + sys")
  endif()
  math(EXPR wall "${CMAKE_MATCH_1} * 1000 + ${CMAKE_MATCH_2}")
  set(wall ${wall} PARENT_SCOPE)
endfunction()

# The child's own exit status is not passed on; a sleep shows in wall.
run_tamsor(${HELPER} println hello sleep 0.2 exit 3)
expect_report("hello\n")
if(wall LESS 150)  # loosely: Windows' sleep may end a clock tick early
  fail("wall ${wall} ms is well below the child's sleep of 200 ms")
endif()

# Wildcards are expanded by tamsor's start-up; other arguments arrive whole.
run_tamsor(${HELPER} args *.tmsr "a b")
expect_report("argc=5\nline=<[^\n]*>\n<one.tmsr>\n<two.tmsr>\n<a b>\n")

# A batch child gets each argument as one parameter, syntax as data.
run_tamsor(show.bat "x y" "a&b")
expect_report("one=\"x y\"\ntwo=\"a&b\"\n")
# ... or runs nothing: % would be expanded by cmd.exe.
run_tamsor(show.bat "%PATH%")
if(status EQUAL 0 OR NOT out MATCHES
   "^Cannot run the command: a batch file cannot be given this argument safely")
  fail("a batch argument holding % was not refused")
endif()

run_tamsor(no-such-program.exe)
if(NOT status MATCHES "^(-1|255|4294967295)$" OR NOT out MATCHES
   "^Cannot run the command \\[ \"no-such-program.exe\" +\\]\n$")
  fail("a program that cannot run must give exit status -1")
endif()
message(STATUS "tamsor.exe: report, exit status, wildcard and batch child")
