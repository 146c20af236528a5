# The stand-in simulator reads its scenario and writes its state file as JSON.
target_link_libraries(platform PRIVATE nlohmann_json::nlohmann_json)
