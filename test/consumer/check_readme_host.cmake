# Takes the host project the README shows below "Linking it from a host" (its
# CMake block as CMakeLists.txt, its C++ block as my_host.cpp), builds it
# against the library installed into a scratch prefix, as a user would, and
# runs it on the installed demo arm.
include(${CMAKE_CURRENT_LIST_DIR}/consumer_steps.cmake)
set(prefix ${WORK_DIR}/install)
set(host_dir ${WORK_DIR}/host)

# readme_block(TEXT LANGUAGE OUT): the first fenced block of the language in TEXT.
function(readme_block text language out)
  set(fence "```${language}\n")
  string(FIND "${text}" "${fence}" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "README: no ${language} block below \"Linking it from a host\"")
  endif()
  string(LENGTH "${fence}" fence_length)
  math(EXPR start "${start} + ${fence_length}")
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "\n```" end)
  if(end EQUAL -1)
    message(FATAL_ERROR "README: the ${language} block is not closed")
  endif()
  string(SUBSTRING "${rest}" 0 ${end} block)
  set(${out} "${block}\n" PARENT_SCOPE)
endfunction()

file(READ ${README} readme)
string(FIND "${readme}" "## Linking it from a host" section)
if(section EQUAL -1)
  message(FATAL_ERROR "README: no section \"Linking it from a host\"")
endif()
string(SUBSTRING "${readme}" ${section} -1 readme)

install_library(${prefix})
readme_block("${readme}" cmake host_cmake)
readme_block("${readme}" cpp host_source)
file(WRITE ${host_dir}/CMakeLists.txt "${host_cmake}")
file(WRITE ${host_dir}/my_host.cpp "${host_source}")
run_step(${CMAKE_COMMAND} -S ${host_dir} -B ${host_dir}/build -DCMAKE_PREFIX_PATH=${prefix})
run_step(${CMAKE_COMMAND} --build ${host_dir}/build)
run_step(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib AMENT_PREFIX_PATH=${prefix} SPDLOG_STDOUT=false
         SPDLOG_SYSTEMD=false ${host_dir}/build/my_host ${prefix}/share/bramlock_arm_description/demo_arm/)
if(NOT step_output MATCHES "[0-9]+ waypoints, [0-9]+\\.[0-9]+ s, [1-9][0-9]* samples\n$")
  message(FATAL_ERROR "the README's host printed no summary:\n${step_output}")
endif()
