// Named mutexes as lock files. The first creator of a name holds an exclusive flock on the
// file for as long as a handle to it is open in its process; anyone else who creates the same
// name gets a handle and ERROR_ALREADY_EXISTS, which is all the single-instance rule needs.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/win32/testing.h"
#include "platform/win32/win32.h"

namespace kvo::win32impl {
namespace {

// One open, locked lock file, shared by every handle to the name in this process.
struct LockFile {
  int fd = -1;
  ~LockFile() {
    if (fd >= 0) {
      close(fd);  // releases the flock
    }
  }
};

struct MutexHandle {
  std::shared_ptr<LockFile> lock;  // null when another process holds the name
  std::thread::id owner;           // ownership taken with initialOwner, given up by ReleaseMutex
  bool owned = false;
};

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<const void*, std::unique_ptr<MutexHandle>> handles;
  std::map<std::string, std::weak_ptr<LockFile>> locksByPath;
};

HandleTable& table() {
  static HandleTable instance;
  return instance;
}

bool isSafeNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A file name from the mutex name: safe bytes stay, every other byte (including '_', the
// escape) becomes "_XX", so two different names never share a file.
std::string encodeName(const std::u16string& name) {
  std::string utf8;
  if (!name.empty()) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr,
                                           0, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), utf8.data(), length, nullptr,
                        nullptr);
  }
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const unsigned char c : utf8) {
    if (isSafeNameByte(c)) {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded.push_back('_');
      encoded.push_back(hex[c >> 4]);
      encoded.push_back(hex[c & 0x0F]);
    }
  }
  // File names are limited to 255 bytes: a long name keeps its start and a hash of the whole.
  constexpr std::size_t kMaxEncoded = 200;
  if (encoded.size() > kMaxEncoded) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : utf8) {
      hash = (hash ^ c) * 1099511628211ull;
    }
    encoded.resize(kMaxEncoded - 17);
    encoded.push_back('-');
    for (int shift = 60; shift >= 0; shift -= 4) {
      encoded.push_back(hex[(hash >> shift) & 0x0F]);
    }
  }
  return encoded;
}

std::string lockPathFor(const std::u16string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    return std::string(runtime) + "/ambv-mutex-" + encodeName(name) + ".lock";
  }
  // /tmp is shared by all users: the user id in the name keeps users apart, as the local
  // namespace of a logon would.
  return "/tmp/ambv-mutex-" + std::to_string(geteuid()) + "-" + encodeName(name) + ".lock";
}

HANDLE addHandle(HandleTable& t, std::unique_ptr<MutexHandle> handle) {
  HANDLE result = handle.get();
  t.handles.emplace(result, std::move(handle));
  return result;
}

}  // namespace
}  // namespace kvo::win32impl

HANDLE CreateMutexW(void* /*securityAttributes*/, BOOL initialOwner, LPCWSTR name) {
  using namespace kvo::win32impl;
  auto handle = std::make_unique<MutexHandle>();
  auto& t = table();
  std::lock_guard lock(t.mutex);
  if (name == nullptr) {
    handle->owned = initialOwner != FALSE;
    handle->owner = std::this_thread::get_id();
    SetLastError(ERROR_SUCCESS);
    return addHandle(t, std::move(handle));
  }
  const std::string path = lockPathFor(name);
  const auto known = t.locksByPath.find(path);
  if (known != t.locksByPath.end()) {
    if (auto existing = known->second.lock()) {
      handle->lock = std::move(existing);
      SetLastError(ERROR_ALREADY_EXISTS);
      return addHandle(t, std::move(handle));
    }
  }
  // O_NOFOLLOW: a planted symbolic link in a shared folder must not redirect us.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    SetLastError(errno == EACCES || errno == ELOOP || errno == EPERM ? ERROR_ACCESS_DENIED
                                                                     : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A file that another user placed there first is not our mutex: locking it would let that
  // user decide whether the program may start.
  struct stat status {};
  if (fstat(fd, &status) != 0 || status.st_uid != geteuid() || !S_ISREG(status.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int locked = 0;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error = errno;
    close(fd);
    if (error != EWOULDBLOCK) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    SetLastError(ERROR_ALREADY_EXISTS);  // another process holds the name
    return addHandle(t, std::move(handle));
  }
  auto lockFile = std::make_shared<LockFile>();
  lockFile->fd = fd;
  t.locksByPath[path] = lockFile;
  handle->lock = std::move(lockFile);
  handle->owned = initialOwner != FALSE;
  handle->owner = std::this_thread::get_id();
  SetLastError(ERROR_SUCCESS);
  return addHandle(t, std::move(handle));
}

BOOL ReleaseMutex(HANDLE mutex) {
  auto& t = kvo::win32impl::table();
  std::lock_guard lock(t.mutex);
  const auto found = t.handles.find(mutex);
  if (found == t.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto& handle = *found->second;
  if (!handle.owned || handle.owner != std::this_thread::get_id()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  handle.owned = false;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  auto& t = kvo::win32impl::table();
  std::lock_guard lock(t.mutex);
  const auto found = t.handles.find(handle);
  if (found == t.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The last handle to a name closes its lock file here, under the table's lock, so a
  // CreateMutexW right after sees the name free.
  t.handles.erase(found);
  for (auto entry = t.locksByPath.begin(); entry != t.locksByPath.end();) {
    entry = entry->second.expired() ? t.locksByPath.erase(entry) : std::next(entry);
  }
  return TRUE;
}

std::string kvo::win32test::mutexLockPath(LPCWSTR name) {
  return kvo::win32impl::lockPathFor(name != nullptr ? std::u16string(name) : std::u16string());
}
