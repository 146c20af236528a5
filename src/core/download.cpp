#include "core/download.h"

#include <atomic>
#include <cstdio>
#include <system_error>

#include <fmt/format.h>

#include "core/log.h"
#include "core/run_flags.h"
#include "core/text.h"

namespace fs = std::filesystem;

std::string g_downloadSiteUrl = kDefaultDownloadSiteUrl;
std::mutex g_downloadSiteMutex;

namespace {

std::mutex g_timeoutsMutex;
DownloadTimeouts g_timeouts;  // guarded by g_timeoutsMutex

size_t writeToFile(char* data, size_t size, size_t count, void* userData) {
  return std::fwrite(data, 1, size * count, static_cast<std::FILE*>(userData));
}

// A stop or quit request ends a running transfer instead of waiting for its time limit.
int abortOnStop(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return (g_stopRequested.load() || g_quitRequested.load()) ? 1 : 0;
}

fs::path temporaryPathFor(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  return path.parent_path() / fmt::format(".{}.{:08x}-{}.part", path.filename().string(),
                                          threadRandomEngine()(), counter.fetch_add(1));
}

// Names on the download site are plain relative paths; anything else is refused rather than
// sent to the server.
bool isSafeSiteName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find("..") != std::string_view::npos) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-' || c == '/';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::string downloadSiteUrl() {
  std::lock_guard lock(g_downloadSiteMutex);
  return g_downloadSiteUrl;
}

void setDownloadSiteUrl(std::string url) {
  if (url.empty() || url.back() != '/') url.push_back('/');
  std::lock_guard lock(g_downloadSiteMutex);
  g_downloadSiteUrl = std::move(url);
}

DownloadTimeouts downloadTimeouts() {
  std::lock_guard lock(g_timeoutsMutex);
  return g_timeouts;
}

void setDownloadTimeouts(const DownloadTimeouts& timeouts) {
  std::lock_guard lock(g_timeoutsMutex);
  g_timeouts = timeouts;
}

void resetDownloadSettings() {
  setDownloadSiteUrl(kDefaultDownloadSiteUrl);
  setDownloadTimeouts(DownloadTimeouts{});
}

void ensureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool downloadFile(CURL* curl, const std::string& url, const fs::path& path, bool raw) {
  // Text files need no line-end translation here, so both kinds are written byte for byte.
  (void)raw;
  if (curl == nullptr) return false;
  ensureCurlGlobalInit();

  const fs::path temporary = temporaryPathFor(path);
  std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
  if (file == nullptr) {
    logArrowLine(fmt::format("Could not open output file: {}", path.string()));
    return false;
  }

  const DownloadTimeouts limits = downloadTimeouts();
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Ambv");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.totalSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortOnStop);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

  const CURLcode result = curl_easy_perform(curl);

  // The handle outlives this call; leave no pointer into this frame in it.
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);

  const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
  const bool closed = std::fclose(file) == 0;
  std::error_code ec;
  if (result == CURLE_OK && flushed && closed) {
    fs::rename(temporary, path, ec);
    if (!ec) return true;
    logIndentedLine(fmt::format("{}: {}", path.string(), ec.message()));
  } else if (result != CURLE_OK) {
    logIndentedLine(fmt::format("{}: {}", url, errorText[0] != '\0' ? errorText : curl_easy_strerror(result)));
  }
  fs::remove(temporary, ec);
  return false;
}

bool downloadFromSite(std::string_view name, const fs::path& path) {
  bool ok = false;
  if (isSafeSiteName(name)) {
    ensureCurlGlobalInit();
    if (CURL* curl = curl_easy_init()) {
      ok = downloadFile(curl, downloadSiteUrl() + std::string(name), path, true);
      curl_easy_cleanup(curl);
    }
  }
  if (ok) {
    logLine(fmt::format("Downloaded '{}' to '{}'", name, path.string()));
  } else {
    logArrowLine(fmt::format("Downloading '{}' failed !", name));
  }
  return ok;
}
