// The program's entry. The window, the runs and the traffic are started from here as the
// subsystems they need are built; so far it opens the log and loads the settings.
#include "app/main_window.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/version.h"

#include <fmt/format.h>

int main() {
  if (!openLogFile()) {
    fmt::print(stderr, "Could not open Log.txt in the working folder\n");
    return 1;
  }
  loadAllParameters();
  logLine(fmt::format("Settings loaded, version {}", g_programVersion.toString()));
  closeLogFile();
  return 0;
}
