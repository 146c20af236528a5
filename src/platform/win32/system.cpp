// kernel32 and shell32 services: the thread's last error, sleeping and the application-data
// folders.

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string homeFolder() {
  std::string home = environment("HOME");
  if (!home.empty()) {
    return home;
  }
  // No $HOME (a service, a stripped environment): ask the user data base.
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return {};
}

// The folder from the first usable source: the Windows-style variable, the XDG variable
// (which must be absolute to count), or the home folder with the XDG default below it.
std::string folderFor(const char* windowsVariable, const char* xdgVariable, const char* homeDefault) {
  std::string folder = environment(windowsVariable);
  if (folder.empty()) {
    folder = environment(xdgVariable);
    if (!folder.empty() && folder.front() != '/') {
      folder.clear();
    }
  }
  if (folder.empty()) {
    const std::string home = homeFolder();
    if (home.empty()) {
      return {};
    }
    folder = home + homeDefault;
  }
  while (folder.size() > 1 && folder.back() == '/') {
    folder.pop_back();  // Win32 hands folders back without a trailing separator
  }
  return folder;
}

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

HRESULT SHGetFolderPathW(HWND /*owner*/, int folder, HANDLE /*token*/, DWORD /*flags*/, LPWSTR path) {
  if (path == nullptr) {
    return E_INVALIDARG;
  }
  path[0] = u'\0';
  std::string found;
  switch (folder & 0xFF) {  // the high bits are creation flags
    case CSIDL_APPDATA:
      found = folderFor("APPDATA", "XDG_CONFIG_HOME", "/.config");
      break;
    case CSIDL_LOCAL_APPDATA:
      found = folderFor("LOCALAPPDATA", "XDG_DATA_HOME", "/.local/share");
      break;
    default:
      return E_INVALIDARG;
  }
  if (found.empty()) {
    return E_FAIL;
  }
  // The caller's buffer holds MAX_PATH characters; a longer path (or one that is not valid
  // UTF-8) is a failure rather than a cut or garbled folder name.
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, found.c_str(), -1, path, MAX_PATH);
  if (length == 0) {
    path[0] = u'\0';
    return E_FAIL;
  }
  return S_OK;
}
