# run(EXPECTED_EXIT ARG...): runs ${TOOL} with the arguments, fails the script unless it exits with
# EXPECTED_EXIT, and leaves its standard output and error in last_output and last_error.
function(run expected_exit)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_exit)
    message(FATAL_ERROR "quillmoor-tool ${ARGN}: exit ${rc}, expected ${expected_exit}\n${out}${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
  set(last_error "${err}" PARENT_SCOPE)
endfunction()

# expect_same(A B): fails the script unless the two files hold the same bytes.
function(expect_same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${a} and ${b} differ")
  endif()
endfunction()
