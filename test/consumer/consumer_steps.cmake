# Steps shared by the scripts that build host projects against the library
# installed into a scratch prefix.

# run_step(COMMAND...): runs the command; fails the test with its output when it fails.
function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "step failed (${code}): ${ARGN}\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

# install_library(PREFIX): empties WORK_DIR, then installs the whole build into PREFIX.
function(install_library prefix)
  file(REMOVE_RECURSE ${WORK_DIR})
  run_step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endfunction()
