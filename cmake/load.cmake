# The load tool (tools/load): the real program under live traffic, its CPU and memory per phase
# (docs/load.md). It starts the program and the replay sender built beside it.
add_executable(ambv_load ${CMAKE_CURRENT_SOURCE_DIR}/tools/load/load_run.cpp)
target_compile_options(ambv_load PRIVATE ${AMBV_WARNINGS})
target_compile_definitions(ambv_load PRIVATE AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(ambv_load PRIVATE pugixml::pugixml nlohmann_json::nlohmann_json)
add_dependencies(ambv_load ambrelvane ambv_rt_replay ambv_workfolder)
