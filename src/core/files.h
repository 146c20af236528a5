#pragma once
// File and folder helpers. Every file the program writes goes through writeFileAtomically, so a
// crash or a concurrent save never leaves a half-written file.
#include <cstddef>
#include <filesystem>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

// Paths from and to UTF-8 text, the form in which parameters, logs and reports hold them.
std::filesystem::path pathFromUtf8(std::string_view text);
std::string utf8Of(const std::filesystem::path& path);

// Every line of an open text stream; a trailing CR (Windows line end) is dropped.
std::vector<std::string> readLines(std::istream& in);

// Writes the texts one per line ("\n") replacing the file; false when it cannot be written (the
// old file is then untouched).
bool writeLines(const std::vector<std::string>& lines, const std::filesystem::path& path);

// Writes the text (and "\n" when lineEnd) replacing the file; true on success.
bool writeTextFile(std::string_view text, const std::filesystem::path& path, bool lineEnd);

// Writes content to a temporary file in the target's folder, flushes it to disk and renames it
// over the target, under one lock per target path. False on failure, with the target untouched
// and the temporary file removed.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// The number of entries of a folder; 0 when it does not exist or cannot be read.
std::size_t countDirectoryEntries(const std::filesystem::path& folder);

// Removes every file (and sub-folder) in the folder, logging "Cleaning folder: {}". A file
// system error (also a missing folder) becomes kvo::UserErrorException with kCleanFolderErrorCode.
inline constexpr int kCleanFolderErrorCode = 60;
void cleanFolder(const std::filesystem::path& folder);

// The user's roaming / local application-data folder; an empty path (and a warning in the log)
// when it cannot be found.
std::filesystem::path getAppDataPath();
std::filesystem::path getLocalAppDataPath();

// The program's own folder: getAppDataPath() / "Ambrelvane" (empty when the app-data folder is
// unknown). Not created here.
std::filesystem::path programFolder();
