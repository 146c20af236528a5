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
