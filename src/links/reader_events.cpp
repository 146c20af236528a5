#include "links/reader_events.h"

#include <fmt/format.h>

// The main window (the display state of every subsystem) and the run control's ending rule
// live with the application shell, above this library; the readers must reach both, which is
// why links links the shell's library too.
#include "app/main_window.h"
#include "app/run_control_hooks.h"
#include "core/log.h"

void reportThreadStopped(std::string_view readerName, std::string_view errorText) {
  try {
    g_mainWindow.showMessage(fmt::format("The {} has stopped with error: {}", readerName, errorText), true);
  } catch (...) {
    // Showing is a courtesy; ending the run below is what matters.
    logArrowLine("reportThreadStopped: the message could not be shown");
  }
  endRunWithReason(kvo::kExitReaderError, kvo::kReaderErrorRestartDelaySeconds);
}
