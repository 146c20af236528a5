# The libFuzzer targets of every decoder of outside input (fuzz/fuzz_<name>.cpp, run by
# scripts/fuzz) and the inputs the unit tests replay: where the tests replay a fuzzer's inputs, its
# driver lives in a header of fuzz/ that they include too; seeds and kept regression inputs are in
# fuzz/corpus/<name>/ and fuzz/regressions/<name>/.

set(AMBV_FUZZ_DIR ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)

foreach(t platform core aircraft airports shared_state links traffic app)
  if(TARGET test_${t})
    target_compile_definitions(test_${t} PRIVATE AMBV_FUZZ_DIR="${AMBV_FUZZ_DIR}")
    target_include_directories(test_${t} PRIVATE ${AMBV_FUZZ_DIR})
  endif()
endforeach()

# Built with clang in a build folder of their own (scripts/fuzz):
#   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DAMBV_FUZZ=ON -DAMBV_TESTS=OFF
option(AMBV_FUZZ "Build the libFuzzer targets of the decoders of outside input (clang only)" OFF)
if(AMBV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "AMBV_FUZZ needs clang (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(ambv_fuzz_sanitizers address,undefined)
  set(ambv_fuzz_compile -fsanitize=fuzzer-no-link,${ambv_fuzz_sanitizers} -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
  # Coverage and sanitizers in the libraries the decoders belong to; a fuzzer links only the
  # objects of them it calls. Their warnings are held to -Werror by the g++ build; clang's
  # further warnings must not stop a fuzz run.
  foreach(lib platform core aircraft airports shared_state links traffic)
    target_compile_options(${lib} PRIVATE -Wno-error ${ambv_fuzz_compile})
  endforeach()
  add_custom_target(fuzzers)

  # ambv_fuzzer(<name> [LIBS <libraries>...] [SOURCES <sources of a higher floor>...])
  function(ambv_fuzzer name)
    cmake_parse_arguments(F "" "" "LIBS;SOURCES" ${ARGN})
    add_executable(fuzz_${name} ${AMBV_FUZZ_DIR}/fuzz_${name}.cpp ${F_SOURCES})
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src ${AMBV_FUZZ_DIR})
    target_compile_options(fuzz_${name} PRIVATE ${AMBV_WARNINGS} ${ambv_fuzz_compile})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,${ambv_fuzz_sanitizers})
    target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
    add_dependencies(fuzzers fuzz_${name})
  endfunction()

  # RealTraffic: the datagrams of both readers, the TCP link's replies.
  ambv_fuzzer(traffic_line LIBS links)
  # A traffic line's whole road: the feed, the engine's tick and the stand-in simulator's state file.
  ambv_fuzzer(traffic_run LIBS traffic)
  ambv_fuzzer(qnh LIBS links)
  ambv_fuzzer(rt_reply LIBS links)
  # The simulator's messages to the SimConnect client, through the stand-in's raw-message hook.
  ambv_fuzzer(sim_message LIBS links)
  # The aircraft data: aircraft.cfg in every encoding, the data files' decryption and content.
  ambv_fuzzer(cfg_text LIBS aircraft)
  ambv_fuzzer(data_decrypt LIBS aircraft)
  ambv_fuzzer(data_xml LIBS aircraft)
  # Airport files and the airport list.
  ambv_fuzzer(airport_file LIBS airports)
  # The program's own parameters.xml, and the simulator's UserCfg.opt.
  ambv_fuzzer(parameters LIBS core)
  ambv_fuzzer(usercfg LIBS core SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/src/app/sim_detection.cpp)
endif()

# A learned airport file written from fuzzed uses, read back by a strict XML reader other than our
# own: libxml2, which only this fuzzer links, never the program.
if(AMBV_FUZZ)
  find_package(LibXml2 REQUIRED)
  ambv_fuzzer(airport_write LIBS airports LibXml2::LibXml2)
endif()
