# The load tool (tools/load): the real program under live traffic, its CPU and memory per phase
# (docs/load.md). It starts the program and the replay sender built beside it, laid out and fed
# as the end-to-end tests do (tests/e2e/installation.h).
add_executable(ambv_load ${CMAKE_CURRENT_SOURCE_DIR}/tools/load/load_run.cpp)
target_include_directories(ambv_load PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e)
target_compile_options(ambv_load PRIVATE ${AMBV_WARNINGS})
target_compile_definitions(ambv_load PRIVATE AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(ambv_load PRIVATE pugixml::pugixml nlohmann_json::nlohmann_json)
add_dependencies(ambv_load ambrelvane ambv_rt_replay ambv_workfolder)
