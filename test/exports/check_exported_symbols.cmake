# Lists the dynamic symbols the shared library defines and fails when one
# belongs to an internal namespace: hosts must not be able to bind to helpers.
# Prints the count of exported symbols so growth shows in the test log.
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
  RESULT_VARIABLE code OUTPUT_VARIABLE symbols ERROR_VARIABLE errors)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY} (${code}): ${errors}")
endif()

string(REGEX MATCHALL "\n" line_ends "${symbols}")
list(LENGTH line_ends count)
message(STATUS "${LIBRARY} exports ${count} symbols")
if(count EQUAL 0)
  message(FATAL_ERROR "no dynamic symbols read from ${LIBRARY}")
endif()

set(internal_namespaces
  "rrtc_internal" "plan_scene_detail" "spline_planner_detail" "link_transforms" "rev5u800" "active_joints"
  "moveit::core::value_checks" "bramlock::detail" "bramlock::internal")
string(REPLACE ";" "|" alternatives "${internal_namespaces}")
# Each nm line starts with the address and type, so a qualified name is always
# preceded by some character that cannot be part of an identifier. The quick
# search runs first: collecting whole lines is slow and only needed to report.
string(REGEX MATCH "[^A-Za-z0-9_](${alternatives})::" first_leak "${symbols}")
if(first_leak)
  string(REGEX MATCHALL "[^\n]*[^A-Za-z0-9_\n](${alternatives})::[^\n]*" leaks "${symbols}")
  list(LENGTH leaks leak_count)
  string(REPLACE ";" "\n" leak_lines "${leaks}")
  message(FATAL_ERROR "${leak_count} exported symbols of internal namespaces:\n${leak_lines}")
endif()
