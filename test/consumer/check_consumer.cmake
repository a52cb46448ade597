# Installs the built library into a scratch prefix, then configures, builds
# and runs a small host project against that prefix; the host also compiles
# every public header.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/install)

function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "step failed (${code}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run_step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run_step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
         -DHEADER_ROOT=${prefix}/include)
run_step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run_step(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false
         ${WORK_DIR}/build/consumer)
