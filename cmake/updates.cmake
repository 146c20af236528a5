# Data updates and the add-on airport scan: the BGL writer of tools/bgl (tests, benchmark, the
# demo add-on airport of data/sim and its maker), and the libFuzzer targets of the BGL reader and
# of the versions.json and zip reading (built by scripts/fuzz like the datagram fuzzers).
foreach(t test_airports test_app bench_addon_scan)
  if(TARGET ${t})
    target_include_directories(${t} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tools)
  endif()
endforeach()
if(TARGET test_airports)
  # The tests replay the fuzzers' seeds and kept inputs.
  target_compile_definitions(test_airports PRIVATE AMBV_FUZZ_DIR="${CMAKE_CURRENT_SOURCE_DIR}/fuzz")
endif()

# Writes the demo airport's BGL (committed under data/sim; a test checks it is this tool's output)
# and the BGL fuzzer's seeds.
add_executable(ambv_make_bgl ${CMAKE_CURRENT_SOURCE_DIR}/tools/bgl/make_bgl.cpp)
target_include_directories(ambv_make_bgl PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tools)
target_compile_options(ambv_make_bgl PRIVATE ${AMBV_WARNINGS})

if(AMBV_FUZZ)
  # The reader sources go straight into each fuzzer, so that it needs only core and platform.
  set(ambv_fuzz_sources_bgl ${CMAKE_CURRENT_SOURCE_DIR}/src/airports/bgl_reader.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/src/aircraft/cfg_text.cpp)
  set(ambv_fuzz_sources_versions ${CMAKE_CURRENT_SOURCE_DIR}/src/app/data_updates_input.cpp)
  set(ambv_fuzz_sources_simaddon_zip ${CMAKE_CURRENT_SOURCE_DIR}/src/app/data_updates_input.cpp)
  foreach(name bgl versions simaddon_zip)
    add_executable(fuzz_${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_${name}.cpp ${ambv_fuzz_sources_${name}})
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR}/tools)
    target_compile_options(fuzz_${name} PRIVATE ${AMBV_WARNINGS} ${ambv_fuzz_compile})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,${ambv_fuzz_sanitizers})
    target_link_libraries(fuzz_${name} PRIVATE core platform)
  endforeach()
endif()
