# The RealTraffic UDP readers: the regression inputs of the tests and the libFuzzer targets of
# the two datagram decoders.

set(AMBV_FUZZ_DIR ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)

# The tests replay every input the fuzzers ever found a fault with.
if(TARGET test_links)
  target_compile_definitions(test_links PRIVATE AMBV_FUZZ_DIR="${AMBV_FUZZ_DIR}")
endif()

# libFuzzer targets, built with clang in a build folder of their own (scripts/fuzz):
#   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DAMBV_FUZZ=ON -DAMBV_TESTS=OFF
option(AMBV_FUZZ "Build the libFuzzer targets of the datagram decoders (clang only)" OFF)
if(AMBV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "AMBV_FUZZ needs clang (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(ambv_fuzz_sanitizers address,undefined)
  set(ambv_fuzz_compile -fsanitize=fuzzer-no-link,${ambv_fuzz_sanitizers} -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
  # Coverage and sanitizers in the foundation the decoders call. Its warnings are held to
  # -Werror by the g++ build; clang's further warnings must not stop a fuzz run.
  foreach(lib platform core)
    target_compile_options(${lib} PRIVATE -Wno-error ${ambv_fuzz_compile})
  endforeach()
  # The decoders' own sources and the shared display and run state they write go straight into
  # each fuzzer, so that a fuzz build does not depend on the rest of the links, traffic and app
  # libraries compiling with clang.
  file(GLOB ambv_shared_state_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/shared_state/*.cpp)
  set(ambv_reader_sources
      ${CMAKE_CURRENT_SOURCE_DIR}/src/links/udp_reader.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/src/links/traffic_reader.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/src/links/qnh_reader.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/src/links/feed.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/src/links/reader_events.cpp
      ${ambv_shared_state_sources})
  foreach(name traffic_line qnh)
    add_executable(fuzz_${name} ${AMBV_FUZZ_DIR}/fuzz_${name}.cpp ${ambv_reader_sources})
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
    target_compile_options(fuzz_${name} PRIVATE ${AMBV_WARNINGS} ${ambv_fuzz_compile})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,${ambv_fuzz_sanitizers})
    target_link_libraries(fuzz_${name} PRIVATE core platform)
  endforeach()
endif()
