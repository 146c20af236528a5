#pragma once
// File and folder helpers. Every file the program writes goes through writeFileAtomically, so a
// crash or a concurrent save never leaves a half-written file.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
class xml_document;
}

// Paths from and to UTF-8 text, the form in which parameters, logs and reports hold them.
std::filesystem::path pathFromUtf8(std::string_view text);
std::string utf8Of(const std::filesystem::path& path);

// Every line of an open text stream (splitLines: CR, LF and CRLF end a line).
std::vector<std::string> readLines(std::istream& in);

// Writes the texts one per line ("\n") replacing the file; false when it cannot be written (the
// old file is then untouched). Each text is cleaned (kvo::cleanText), so that a text quoted from
// outside can neither break its line nor put invalid UTF-8 in the file.
bool writeLines(const std::vector<std::string>& lines, const std::filesystem::path& path);

// Writes the text (and "\n" when lineEnd) replacing the file; true on success.
bool writeTextFile(std::string_view text, const std::filesystem::path& path, bool lineEnd);

// Writes content to a temporary file in the target's folder, flushes it to disk and renames it
// over the target, under one lock per target path. False on failure, with the target untouched
// and the temporary file removed.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// The text of one of the program's own XML files: one UTF-8 declaration, then the document with
// every name, attribute value and text cleaned in place (kvo::cleanText). XML 1.0 cannot hold
// control characters even as references, so this is the last defence against a caller that
// passes them on.
std::string xmlFileText(pugi::xml_document& doc, const char* indent);

// True for a file or folder name that Windows opens as a device in any folder: CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with the digits ¹ ² ³), in any case, alone or
// before an extension, with or without trailing dots and blanks.
bool isWindowsDeviceName(std::string_view name);

// The name, with "_" put before it when Windows would take it for a device; for every file and
// folder name made from outside text.
std::string deviceSafeName(std::string_view name);

// Visits the files below a folder, up to maxDepth folder levels below it. Directory links are not
// followed and each real folder is entered once, so a link loop cannot multiply the walk; enter
// decides which sub-folders are entered, take is called for each file and tells whether it counts
// towards maxFiles. False when the walk stopped at maxFiles.
bool walkFiles(const std::filesystem::path& folder, int maxDepth, std::size_t maxFiles,
               const std::function<bool(const std::filesystem::directory_entry&)>& enter,
               const std::function<bool(const std::filesystem::directory_entry&)>& take);

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
