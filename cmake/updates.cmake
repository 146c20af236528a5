# Data updates and the add-on airport scan: the BGL writer of tools/bgl (tests, benchmark, the
# demo add-on airport of data/sim and its maker), and the libFuzzer targets of the BGL reader and
# of the versions.json and zip reading (built by scripts/fuzz through fuzz.cmake's ambv_fuzzer).
foreach(t test_airports test_app bench_addon_scan)
  if(TARGET ${t})
    target_include_directories(${t} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tools)
  endif()
endforeach()

# Writes the demo airport's BGL (committed under data/sim; a test checks it is this tool's output)
# and the BGL fuzzer's seeds.
add_executable(ambv_make_bgl ${CMAKE_CURRENT_SOURCE_DIR}/tools/bgl/make_bgl.cpp)
target_include_directories(ambv_make_bgl PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tools)
target_compile_options(ambv_make_bgl PRIVATE ${AMBV_WARNINGS})

if(AMBV_FUZZ)
  # Defined in fuzz.cmake; the versions.json and zip reading lives in the app floor, which is not
  # built for fuzzing, so its one source goes straight in.
  ambv_fuzzer(bgl LIBS airports)
  ambv_fuzzer(versions LIBS core SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/src/app/data_updates_input.cpp)
  ambv_fuzzer(simaddon_zip LIBS core SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/src/app/data_updates_input.cpp)
endif()
