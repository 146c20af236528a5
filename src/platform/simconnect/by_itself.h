#pragma once
// What the other stand-ins know of the stand-in simulator: whether it runs by itself (the
// program's default, as the run command runs it) and from which folder. The window system
// writes the window's picture there.
#include <filesystem>
#include <optional>

namespace kvo::simstandin {

// The folder whose scenario file the simulator runs by itself from (the working folder unless
// a test named another), also before its world started; nullopt while it is scripted or no
// scenario file is there.
std::optional<std::filesystem::path> scenarioFolderInUse();

}  // namespace kvo::simstandin
