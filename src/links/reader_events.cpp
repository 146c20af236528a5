#include "links/reader_events.h"

#include <fmt/format.h>

#include "core/log.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"

void reportThreadStopped(std::string_view readerName, std::string_view errorText) {
  try {
    g_mainWindow.showMessage(fmt::format("The {} has stopped with error: {}", readerName, errorText), true);
  } catch (...) {
    // Showing is a courtesy; ending the run below is what matters.
    logArrowLine("reportThreadStopped: the message could not be shown");
  }
  endRunWithReason(kvo::kExitReaderError, kvo::kReaderErrorRestartDelaySeconds);
}
