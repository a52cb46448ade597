# Installs the built library into a scratch prefix, then configures, builds
# and runs a small host project against that prefix; the host also compiles
# every public header.
include(${CMAKE_CURRENT_LIST_DIR}/consumer_steps.cmake)
set(prefix ${WORK_DIR}/install)

install_library(${prefix})
run_step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
         -DHEADER_ROOT=${prefix}/include)
run_step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run_step(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false
         ${WORK_DIR}/build/consumer)
