# The made-up replay session's maker: its builder and the Salzburg layout as a library, so that
# the session's tests can make the session themselves and look at it.
add_library(ambv_session_maker STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay/session_maker.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay/lows_session.cpp)
target_include_directories(ambv_session_maker PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay)
target_compile_options(ambv_session_maker PRIVATE ${AMBV_WARNINGS})
target_link_libraries(ambv_session_maker PUBLIC pugixml::pugixml)
target_link_libraries(ambv_make_session PRIVATE ambv_session_maker)

if(AMBV_TESTS)
  ambv_tests(rt_replay ambv_session_maker)
  if(TARGET test_rt_replay)
    target_compile_definitions(test_rt_replay PRIVATE AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    # No threads of its own: not one for the ThreadSanitizer build.
    set_tests_properties(rt_replay PROPERTIES LABELS "unit" TIMEOUT 300)
  endif()
  # The end-to-end run of the run command's session starts the replay tool itself and reads the
  # stands with the maker's reader.
  if(TARGET test_e2e)
    target_compile_definitions(test_e2e PRIVATE AMBV_RT_REPLAY="$<TARGET_FILE:ambv_rt_replay>")
    target_link_libraries(test_e2e PRIVATE ambv_session_maker)
    add_dependencies(test_e2e ambv_rt_replay)
  endif()
endif()

# The check of ground motion over a recorded run (docs/ground-motion.md): a library that the
# end-to-end run of the session applies, and a program that records or reads a run and reports.
add_library(ambv_ground_check STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/ground_check/ground_check.cpp)
target_include_directories(ambv_ground_check PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/ground_check
                           PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay)
target_compile_options(ambv_ground_check PRIVATE ${AMBV_WARNINGS})
target_link_libraries(ambv_ground_check PUBLIC nlohmann_json::nlohmann_json)
add_executable(ambv_ground_check_tool ${CMAKE_CURRENT_SOURCE_DIR}/tools/ground_check/ground_check_main.cpp)
set_target_properties(ambv_ground_check_tool PROPERTIES OUTPUT_NAME ambv_ground_check)
target_compile_options(ambv_ground_check_tool PRIVATE ${AMBV_WARNINGS})
target_link_libraries(ambv_ground_check_tool PRIVATE ambv_ground_check)
if(AMBV_TESTS AND TARGET test_e2e)
  target_link_libraries(test_e2e PRIVATE ambv_ground_check)
endif()
if(AMBV_TESTS AND TARGET test_rt_replay)
  target_link_libraries(test_rt_replay PRIVATE ambv_ground_check)
endif()

# The ground check in seconds (docs/ground-motion.md): a session played through the program inside
# one process on a virtual clock, its installation laid out as the end-to-end runs lay out theirs
# (tests/e2e/installation.h); the check program's --replay, and the check of several draws of the
# noisy session's noise with both stored sessions.
add_library(ambv_ground_replay STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/ground_check/ground_replay.cpp)
target_include_directories(ambv_ground_replay PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/ground_check
                           PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay ${CMAKE_CURRENT_SOURCE_DIR}/tests
                                   ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e)
target_compile_options(ambv_ground_replay PRIVATE ${AMBV_WARNINGS})
target_compile_definitions(ambv_ground_replay PRIVATE AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
                           AMBV_WORK_DIR="${AMBV_WORK_DIR}")
target_link_libraries(ambv_ground_replay PUBLIC ambv_ground_check app)
add_dependencies(ambv_ground_replay ambv_workfolder)
target_include_directories(ambv_ground_check_tool PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(ambv_ground_check_tool PRIVATE ambv_ground_replay ambv_session_maker)
if(AMBV_TESTS)
  ambv_tests(ground_replay ambv_ground_replay ambv_session_maker)
  if(TARGET test_ground_replay)
    target_compile_definitions(test_ground_replay PRIVATE AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    # Its draws run one after another, each in a process of its own on a virtual clock with no
    # thread to race: not one for the ThreadSanitizer build.
    set_tests_properties(ground_replay PROPERTIES LABELS "unit" TIMEOUT 600)
  endif()
endif()
