# The simulator client (links) calls up into the main window (display values), the run control
# (ending a run) and the traffic engine (stand search, park airport list, size class texts)
# through small headers those folders own; the static libraries are linked back as a cycle,
# which CMake repeats on the link line.
target_link_libraries(links PUBLIC traffic app)
# The stand-in simulator reads its scenario and writes its state file as JSON.
target_link_libraries(platform PRIVATE nlohmann_json::nlohmann_json)
