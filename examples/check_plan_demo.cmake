# Installs the demo data into a scratch prefix, then runs the example host as a
# user would: on the demo arm found through AMENT_PREFIX_PATH, on motions where
# the block halfway would cover the start pose or covers it anywhere, on another
# arm named on the command line, on a group it cannot plan for, with a missing
# SRDF, with SRDFs naming links the URDF lacks, with an MDH table the arm's
# joint names leave unused, with a start in collision and a goal outside the
# joint bounds, with arguments that do not fit the arm, with the README's
# arguments and with no demo data to be found. Checks the exit status and the
# summary of each run.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${COMPONENT}
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "installing the demo data failed (${code}):\n${out}\n${err}")
endif()

# run_demo(NAME EXPECTED_STATUS ENVIRONMENT_ARGS -- DEMO_ARGS...): runs the
# example and leaves its summary in demo_summary, its error output in
# demo_errors. EXPECTED_STATUS is "planned" for a run that plans and times a
# motion: see expect_planned.
function(run_demo name expected)
  cmake_parse_arguments(RUN "" "" "ENV;ARGS" ${ARGN})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env SPDLOG_SYSTEMD=false ${RUN_ENV}
            ${DEMO} --log ${WORK_DIR}/${name}.log ${RUN_ARGS}
    RESULT_VARIABLE status OUTPUT_VARIABLE summary ERROR_VARIABLE errors)
  message(STATUS "${name}:\n${summary}${errors}")
  if(expected STREQUAL "planned")
    expect_planned(${name} "${summary}" "${status}")
  elseif(NOT status STREQUAL "${expected}")
    message(FATAL_ERROR "${name}: exit status ${status}, expected ${expected}")
  endif()
  set(demo_summary "${summary}" PARENT_SCOPE)
  set(demo_errors "${errors}" PARENT_SCOPE)
endfunction()

# A run that plans and times a motion ends ok (exit 0), or its TOPP-RA
# trajectory, a spline through the waypoints that cuts the corners of the
# checked path, meets an obstacle: then it fails (exit 1) with the time on the
# TOPP-RA line and in the checks, and with nothing else failing.
function(expect_planned name summary status)
  expect_line(${name} "${summary}" "result: +0 \\(success\\)")
  if(summary MATCHES "TOPP-RA: +[^\n]*; in collision at [0-9]+\\.[0-9]+ s\n")
    expect_line(${name} "${summary}"
      "\n +TOPP-RA: FAILED the collision check of its samples: in collision at [0-9]+\\.[0-9]+ s\n")
    expect_line(${name} "${summary}" "status: +failed")
    set(expected 1)
    message(STATUS "${name}: the TOPP-RA trajectory met an obstacle, and the summary says so")
  else()
    expect_line(${name} "${summary}" "\n +TOPP-RA: samples passed the scene's collision check \\([1-9][0-9]* samples, at most 1 ms and 0.002 rad apart\\)\n")
    expect_line(${name} "${summary}" "status: +ok")
    set(expected 0)
  endif()
  if(NOT status STREQUAL "${expected}")
    message(FATAL_ERROR "${name}: exit status ${status}, expected ${expected}")
  endif()
endfunction()

function(expect_line name summary pattern)
  if(NOT summary MATCHES "${pattern}")
    message(FATAL_ERROR "${name}: no summary line matching \"${pattern}\"")
  endif()
endfunction()

function(expect_no_line name summary pattern)
  if(summary MATCHES "${pattern}")
    message(FATAL_ERROR "${name}: a summary line matches \"${pattern}\"")
  endif()
endfunction()

run_demo(demo_arm planned ENV AMENT_PREFIX_PATH=${prefix})
foreach(pattern
    "arm: +[^\n]*/share/bramlock_arm_description/demo_arm/ \\(scene_arm.urdf, scene_arm.srdf\\), group \"arm\", 6 joints"
    "obstacle: +octomap block of 0.12 m around \\([^\n]*\\) m \\(the tool halfway along the direct motion\\), in the way of the direct motion\n"
    "result: +0 \\(success\\)"
    "waypoints: +([3-9]|[1-9][0-9]+)\n"
    "planning time: +[0-9]+\\.[0-9]+ s"
    "trajectory: +[0-9]+\\.[0-9]+ s \\(cubic spline, [1-9][0-9]* samples of 1 ms\\)"
    "CSV: +(written to /home/bramlock/trajectory/trajectory_[0-9_]+\\.csv|not written: /home/bramlock/trajectory/ [^\n]+)"
    "TOPP-RA: +[0-9]+\\.[0-9]+ s \\(100 stages, computed in [0-9.]+ ms\\)(; in collision at [0-9.]+ s)?\n"
    "checks: +planned path: passed the scene's motion checks \\(isValid on every waypoint, checkMotion on every segment\\)\n"
    "\n +cubic spline: samples within the joint bounds and passed the scene's collision check\n"
    "library output: +[^\n]*demo_arm.log")
  expect_line(demo_arm "${demo_summary}" "${pattern}")
endforeach()
# The demo arm's joints all take the MDH table, and its SRDF names only links it has.
expect_no_line(demo_arm "${demo_summary}" "MDH table:|warning:")

# Halfway along this motion the block would cover the start pose: it stands
# further along, where start and goal are free and it still blocks the motion.
run_demo(block_off_the_start planned ENV AMENT_PREFIX_PATH=${prefix}
  ARGS --no-csv --start 0.9,1.3,-1.5,0.1,1.0,-0.4 --goal 1.9,1.1,-0.3,-0.9,-0.5,-0.7)
expect_line(block_off_the_start "${demo_summary}"
  "obstacle: +octomap block of 0.12 m around \\([^\n]*\\) m \\(the tool [6-9]0 % along the direct motion; halfway it would cover the start pose\\), in the way of the direct motion\n")

# On this short motion the block covers start and goal wherever it stands
# along it; the summary says so and why planning fails.
run_demo(block_covers_start 1 ENV AMENT_PREFIX_PATH=${prefix}
  ARGS --no-csv --start 0,-0.5,0.5,0,0.5,0 --goal 1,-0.3,0.4,0,0.6,0.5)
expect_line(block_covers_start "${demo_summary}"
  "obstacle: +[^\n]*\\(the tool halfway along the direct motion\\), covering the start and goal poses: no place along the motion leaves both free\n")
expect_line(block_covers_start "${demo_summary}" "result: +-1 \\(")
expect_line(block_covers_start "${demo_summary}" "cause: +the start pose is in collision with the obstacle\n")
expect_line(block_covers_start "${demo_summary}" "status: +failed")

run_demo(start_in_self_collision 1 ENV AMENT_PREFIX_PATH=${prefix} ARGS --no-csv --no-obstacle --start 0.7,2.0,-1.9,0,0,0)
expect_line(start_in_self_collision "${demo_summary}"
  "cause: +the start pose is in collision even in an empty world \\(the arm with itself\\)\n")

# A missing SRDF would load as an empty one: it is named before the scene is built.
run_demo(missing_srdf 2 ENV AMENT_PREFIX_PATH=${prefix} ARGS --srdf missing.srdf)
expect_line(missing_srdf "${demo_summary}"
  "arm: +cannot be loaded: the SRDF file [^\n]*/demo_arm/missing.srdf does not exist\n")
expect_no_line(missing_srdf "${demo_summary}" "hint:")

# A planar arm of the test fixtures, named on the command line: its one
# group without subgroups, "hand", is the one planned for.
run_demo(other_arm planned ENV AMENT_PREFIX_PATH=${prefix}
  ARGS --description-dir ${OTHER_ARM_DIR} --urdf planar_arm.urdf --srdf planar_arm.srdf --group hand
       --gripper-link tool_link --mdh none --acceleration-limits 5 --no-csv --start 1.2 --goal -1.2)
expect_line(other_arm "${demo_summary}" "arm: +/[^\n]*/planar_arm/ \\(planar_arm.urdf, planar_arm.srdf\\), group \"hand\", 1 joint")
expect_line(other_arm "${demo_summary}" "CSV: +not asked for")

# The test arm's group "arm" has a subgroup, so the scene cannot plan for it.
run_demo(group_with_subgroups 2 ENV AMENT_PREFIX_PATH=${prefix}
  ARGS --description-dir ${TEST_ARM_DIR} --urdf test_arm.urdf --srdf test_arm.srdf --mdh none --no-csv)
expect_line(group_with_subgroups "${demo_summary}" "group \"arm\", 0 joints")
expect_line(group_with_subgroups "${demo_summary}" "hint: +the scene plans for no group of that name")

# SRDF names the URDF lacks: a group chain ending in a missing link leaves no
# group, which the summary blames on the link; a disabled collision pair with a
# missing link is dropped, which the summary warns of.
set(demo_arm_dir ${prefix}/share/bramlock_arm_description/demo_arm)
file(READ ${demo_arm_dir}/scene_arm.srdf demo_srdf)
string(REPLACE "tip_link=\"gripper_link\"" "tip_link=\"tool0\"" chain_to_tool0 "${demo_srdf}")
file(WRITE ${demo_arm_dir}/chain_to_tool0.srdf "${chain_to_tool0}")
run_demo(chain_to_missing_link 2 ENV AMENT_PREFIX_PATH=${prefix} ARGS --srdf chain_to_tool0.srdf)
expect_line(chain_to_missing_link "${demo_summary}"
  "cause: +group \"arm\" of the SRDF ends its chain in link 'tool0', which the URDF lacks\n")
expect_no_line(chain_to_missing_link "${demo_summary}" "hint:")
expect_no_line(chain_to_missing_link "${demo_summary}" "result:")
string(REPLACE "</robot>" "  <disable_collisions link1=\"link6\" link2=\"flange\" reason=\"Adjacent\"/>\n</robot>"
  pair_with_flange "${demo_srdf}")
file(WRITE ${demo_arm_dir}/pair_with_flange.srdf "${pair_with_flange}")
run_demo(pair_with_missing_link planned ENV AMENT_PREFIX_PATH=${prefix} ARGS --srdf pair_with_flange.srdf --no-csv)
expect_line(pair_with_missing_link "${demo_summary}"
  "warning: +the SRDF disables collisions between 'link6' and 'flange', but the URDF has no link 'flange': the pair is ignored\n")

# The model reads an MDH table only for joints named joint1 to joint6: the
# planar arm's wrist_joint keeps none of it, which the summary says.
file(WRITE ${WORK_DIR}/mdh_planar.txt "0.1\n0\n0\n0\n")
run_demo(mdh_table_unused planned ENV AMENT_PREFIX_PATH=${prefix}
  ARGS --description-dir ${OTHER_ARM_DIR} --urdf planar_arm.urdf --srdf planar_arm.srdf --group hand
       --gripper-link tool_link --mdh ${WORK_DIR}/mdh_planar.txt --acceleration-limits 5 --no-csv --start 1.2 --goal -1.2)
expect_line(mdh_table_unused "${demo_summary}"
  "MDH table: +not used for wrist_joint \\([^\n]*/mdh_planar.txt; joint k takes the k-th column, for joint1 to joint6 only\\)\n")

run_demo(goal_out_of_bounds 1 ENV AMENT_PREFIX_PATH=${prefix} ARGS --no-obstacle --goal 9,0,0,0,0,0)
expect_line(goal_out_of_bounds "${demo_summary}" "result: +-4 \\(goal outside the joint bounds\\)")
expect_line(goal_out_of_bounds "${demo_summary}" "cause: +joint1 of the goal is 9 rad, outside \\[-3.1, 3.1\\]\n")
expect_line(goal_out_of_bounds "${demo_summary}" "status: +failed")

# Arguments the arm cannot use stop the example before it plans, with a line
# naming the argument: MDH tables of the wrong shape, a gripper link the arm
# lacks, acceleration limits of 0 or below.
file(WRITE ${WORK_DIR}/mdh_2_rows_of_6.txt "0.2405 0 0 0.21 0 0.144\n0 0 0.256 0 0 0\n")
file(WRITE ${WORK_DIR}/mdh_4_rows_of_5.txt "0.2405 0 0 0.21 0\n0 0 0.256 0 0\n0 1.57 1.57 0 0\n0 1.57 0 1.57 -1.57\n")
foreach(shape "2 rows of 6" "4 rows of 5")
  string(REPLACE " " "_" name "mdh_${shape}")
  run_demo(${name} 2 ENV AMENT_PREFIX_PATH=${prefix} ARGS --mdh ${WORK_DIR}/${name}.txt)
  expect_line(${name} "${demo_summary}" "bad argument: +the MDH table [^\n]*/${name}.txt \\(--mdh\\) holds ${shape} numbers; group \"arm\" needs 4 rows \\(d, a, zero-angle offset, alpha\\) of 6, one per joint\n")
  expect_no_line(${name} "${demo_summary}" "result:")
endforeach()

run_demo(unknown_gripper_link 2 ENV AMENT_PREFIX_PATH=${prefix} ARGS --gripper-link tool_link)
expect_line(unknown_gripper_link "${demo_summary}" "bad argument: +--gripper-link tool_link is not a link of the arm\n")
expect_line(unknown_gripper_link "${demo_summary}" "status: +failed")
expect_no_line(unknown_gripper_link "${demo_summary}" "result:")

foreach(limits "10,10,0,12,12,12" "10,10,10,12,12,-1")
  string(MAKE_C_IDENTIFIER "acceleration_limits_${limits}" name)
  run_demo(${name} 2 ENV AMENT_PREFIX_PATH=${prefix} ARGS --acceleration-limits ${limits})
  expect_line(${name} "${demo_errors}" "^--acceleration-limits needs limits above 0 rad/s\\^2, not \"${limits}\"\n")
  expect_no_line(${name} "${demo_summary}" "result:")
endforeach()

# The README's example of an arm named in full, run on the installed demo arm
# it names: it plans around the block.
file(READ ${README} readme)
string(REGEX MATCH "bash scripts/demo.sh (--description-dir [^`]*)\n```" readme_command "${readme}")
if(NOT readme_command)
  message(FATAL_ERROR "README: no demo.sh command that names the arm with --description-dir")
endif()
string(REPLACE "\\\n" " " readme_arguments "${CMAKE_MATCH_1}")
string(REPLACE "build/demo-prefix" "${prefix}" readme_arguments "${readme_arguments}")
separate_arguments(readme_arguments UNIX_COMMAND "${readme_arguments}")
run_demo(readme_own_arm planned ENV AMENT_PREFIX_PATH=${prefix} ARGS ${readme_arguments})
expect_line(readme_own_arm "${demo_summary}" "obstacle: +[^\n]*, in the way of the direct motion\n")

run_demo(no_demo_data 2 ENV --unset=AMENT_PREFIX_PATH)
expect_line(no_demo_data "${demo_summary}" "arm: +cannot be loaded")
expect_line(no_demo_data "${demo_summary}" "AMENT_PREFIX_PATH")
