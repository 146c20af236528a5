#pragma once
// Files the stand-ins write for a person or a test to read while the program runs (the
// simulator's state, the window's picture): written to a temporary file beside the target and
// renamed over it, so a reader never sees half a file.
#include <filesystem>
#include <string_view>

namespace kvo::platformimpl {

// False when the file could not be written; the old file is then untouched.
bool writeFileReplacing(const std::filesystem::path& path, std::string_view content);

}  // namespace kvo::platformimpl
