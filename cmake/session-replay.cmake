# The made-up replay session's maker: its builder and the Salzburg layout as a library, so that
# the session's tests can make the session themselves and look at it.
add_library(ambv_session_maker STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay/session_maker.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay/lows_session.cpp)
target_include_directories(ambv_session_maker PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tools/rt_replay)
target_compile_options(ambv_session_maker PRIVATE ${AMBV_WARNINGS})
target_link_libraries(ambv_session_maker PUBLIC pugixml::pugixml)
target_link_libraries(ambv_make_session PRIVATE ambv_session_maker)

if(AMBV_TESTS)
  file(GLOB ambv_rt_replay_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/rt_replay/*.cpp)
  if(ambv_rt_replay_test_srcs)
    add_executable(test_rt_replay ${ambv_rt_replay_test_srcs})
    target_include_directories(test_rt_replay PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    target_compile_options(test_rt_replay PRIVATE ${AMBV_WARNINGS})
    target_compile_definitions(test_rt_replay PRIVATE AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(test_rt_replay PRIVATE ambv_session_maker GTest::gtest GTest::gmock GTest::gtest_main)
    add_test(NAME rt_replay COMMAND test_rt_replay)
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
