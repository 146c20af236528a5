# Runs: the application shell's tests read the shipped working folder; the end-to-end tests
# start the real program against the stand-in simulator and a UDP sender on loopback; the
# replay sender of a recorded RealTraffic session.
if(TARGET test_app)
  target_compile_definitions(test_app PRIVATE AMBV_WORK_DIR="${AMBV_WORK_DIR}"
                             AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  add_dependencies(test_app ambv_workfolder)
endif()

# The RealTraffic replay: the session maker and the sender (tools/rt_replay).
add_executable(ambv_make_session ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay/make_session.cpp)
target_compile_options(ambv_make_session PRIVATE ${AMBV_WARNINGS})
add_executable(ambv_rt_replay ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay/rt_replay.cpp)
target_compile_options(ambv_rt_replay PRIVATE ${AMBV_WARNINGS})

# End-to-end tests: the real program (and, for what only the test's own process can script, the
# program's run inside the test), each in a network namespace of its own where the system allows
# one (the program's UDP ports are fixed).
if(AMBV_TESTS)
  file(GLOB ambv_e2e_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/*.cpp)
  if(ambv_e2e_srcs)
    add_executable(test_e2e ${ambv_e2e_srcs})
    target_include_directories(test_e2e PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    target_compile_options(test_e2e PRIVATE ${AMBV_WARNINGS})
    target_compile_definitions(test_e2e PRIVATE AMBV_PROGRAM="$<TARGET_FILE:ambrelvane>"
                               AMBV_WORK_DIR="${AMBV_WORK_DIR}" AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(test_e2e PRIVATE app GTest::gtest GTest::gmock GTest::gtest_main)
    add_dependencies(test_e2e ambrelvane ambv_workfolder)
    # One CTest entry per test suite, so that ctest -j runs the long runs side by side. Each run has
    # its own folders and single-instance lock; without network namespaces they would share the
    # fixed UDP ports, so they then take turns.
    execute_process(COMMAND unshare -n true RESULT_VARIABLE ambv_no_netns OUTPUT_QUIET ERROR_QUIET)
    set(ambv_e2e_suites "")
    foreach(src ${ambv_e2e_srcs})
      file(STRINGS ${src} lines REGEX "^TEST(_F|_P)?\\(")
      foreach(line ${lines})
        string(REGEX REPLACE "^TEST(_F|_P)?\\(([A-Za-z0-9_]+),.*" "\\2" suite "${line}")
        list(APPEND ambv_e2e_suites ${suite})
      endforeach()
    endforeach()
    list(REMOVE_DUPLICATES ambv_e2e_suites)
    foreach(suite ${ambv_e2e_suites})
      add_test(NAME e2e.${suite} COMMAND test_e2e --gtest_filter=${suite}.*:*/${suite}.*)
      set_tests_properties(e2e.${suite} PROPERTIES LABELS "unit;threads" TIMEOUT 900
        ENVIRONMENT "AMBV_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR}/testtmp")
      # The replays of the stored sessions run longest: on a first run (no timings kept yet) they
      # start first, so the others run beside them.
      if(suite MATCHES "SessionEndToEnd$")
        set_tests_properties(e2e.${suite} PROPERTIES COST 1000)
      endif()
      if(NOT ambv_no_netns EQUAL 0)
        set_tests_properties(e2e.${suite} PROPERTIES RESOURCE_LOCK ambv_udp_ports)
      endif()
    endforeach()
  endif()
endif()
