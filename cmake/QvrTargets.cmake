# Helpers that keep the per-folder CMakeLists files short and alike.

# Adds each listed folder that holds a CMakeLists.txt.
function(qvr_add_subdirs)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# Adds every child folder (sorted by name) that holds a CMakeLists.txt, except those
# named after EXCLUDE.
function(qvr_add_child_dirs)
  cmake_parse_arguments(C "" "" "EXCLUDE" ${ARGN})
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(child IN_LIST C_EXCLUDE)
      continue()
    endif()
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# qvr_add_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s] [SERIAL] [LABELS ...] [PROPERTIES ...])
# One test binary; each test case becomes its own CTest entry and runs in its own
# process, under the isolating environment of tests/support (own IPC prefix, runtime
# folder and registry folder); run whole, the binary puts that environment and the runtime
# library's per-process caches back after each case. LABELS lets ctest select or leave out a group (-L / -LE);
# PROPERTIES are more CTest properties of every case (a fixture the cases need, for example).
function(qvr_add_gtest name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} qvr_test_support GTest::gmock GTest::gtest)
  if(TARGET qvr_test_case_reset)
    target_link_libraries(${name} PRIVATE qvr_test_case_reset)
  endif()
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  list(APPEND props ${T_PROPERTIES})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
endfunction()

# qvr_add_fuzz(<name> SOURCES ... [LIBS ...])
# A libFuzzer target <name>_fuzz when QVR_FUZZ is on (clang), and always a replay test
# that feeds every file of fuzz/corpus/<name>/ to the same entry point, so the seeds and
# every crash input kept there run in the normal build.
function(qvr_add_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  add_executable(${name}_replay ${F_SOURCES})
  target_link_libraries(${name}_replay PRIVATE ${F_LIBS} qvr_fuzz_replay)
  if(QVR_TESTS)
    add_test(NAME fuzz_replay.${name} COMMAND ${name}_replay ${corpus})
    set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT 300)
  endif()
  if(QVR_FUZZ)
    add_executable(${name}_fuzz ${F_SOURCES})
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name}_fuzz PRIVATE ${F_LIBS})
  endif()
endfunction()

# qvr_add_bench(<name> SOURCES ... [LIBS ...] [PLAIN])
# A benchmark program; PLAIN for a program with its own main that prints its figures.
function(qvr_add_bench name)
  cmake_parse_arguments(B "PLAIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
  # Header-only test support (the MariaDB test server's state file) is shared with the tests.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT B_PLAIN)
    target_link_libraries(${name} PRIVATE benchmark::benchmark benchmark::benchmark_main)
  endif()
endfunction()
