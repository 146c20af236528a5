#pragma once
// Log.txt in the working folder. Every writer takes the log lock and writes nothing while the
// file is not open; none throws to the caller.
#include <filesystem>
#include <mutex>
#include <string_view>

extern std::mutex g_logMutex;

void logLine(std::string_view text);
void logArrowLine(std::string_view text);     // "===> " + text: warnings and failures
void logIndentedLine(std::string_view text);  // ten blanks + text: continuation lines
void logLineIfRunning(std::string_view text); // nothing once a stop or quit is requested

// Log0.txt -> Log00.txt, Log.txt -> Log0.txt, then opens Log.txt in the folder (default: the
// current working folder) and writes the header line. Returns false when it cannot be opened.
bool openLogFile(const std::filesystem::path& folder = {});
void closeLogFile();
bool isLogOpen();
