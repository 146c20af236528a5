#pragma once
// The program's entry: one instance per logged-on user, the log, the main window, the program's
// folder, the first run, and the message loop of the window thread.
#include <filesystem>

#include "platform/win32/win32.h"

// The resource ids of the program's resource table.
inline constexpr UINT kTitleStringId = 101;
inline constexpr WORD kMainIconId = 100;
// The single-instance mutex of the logged-on user.
inline constexpr const char16_t* kSingleInstanceMutexName = u"Local\\$Ambrelvane$";

// The program's folder under the roaming application-data folder; holds parameters.xml.
extern std::filesystem::path g_appDataFolder;

// The process's exit code: -1 at once for a second instance, else runApplication's result.
int wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand);
// The window part: the exit code of the message loop, or 0 on a failure before it. When the
// loop ends, the runs' threads are stopped and joined.
int runApplication(HINSTANCE instance);

// Closes the single-instance mutex again (tests that run wWinMain twice in one process).
void releaseSingleInstanceForTests();
