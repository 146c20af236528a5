#pragma once
// Downloads over libcurl. A download goes to a temporary file in the target's folder and is
// renamed over the target only on success, so a broken transfer never replaces a good file.
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include <curl/curl.h>

// Base address of the download site with a trailing '/'. Read and change it through
// downloadSiteUrl() / setDownloadSiteUrl(), which take g_downloadSiteMutex.
extern std::string g_downloadSiteUrl;
extern std::mutex g_downloadSiteMutex;
inline constexpr const char* kDefaultDownloadSiteUrl = "https://downloads.ambrelvane.net/downloads/";

std::string downloadSiteUrl();
void setDownloadSiteUrl(std::string url);  // a missing trailing '/' is added

// Time limits of every transfer; a transfer slower than lowSpeedBytes per second for
// lowSpeedSeconds is given up as well.
struct DownloadTimeouts {
  long connectSeconds = 15;
  long totalSeconds = 600;
  long lowSpeedBytes = 1;
  long lowSpeedSeconds = 30;
};
DownloadTimeouts downloadTimeouts();
void setDownloadTimeouts(const DownloadTimeouts& timeouts);
void resetDownloadSettings();  // default site address and time limits

// Once per process, thread-safe; downloadFile calls it itself.
void ensureCurlGlobalInit();

// Downloads url into path with the user agent "Ambv", failing on a server error answer. raw:
// bytes unchanged (binary files); otherwise a text file (the bytes are the same here, where text
// files have no line-end translation). False on any failure; "Could not open output file: {}"
// is logged when the file cannot be created. A stop or quit request aborts the transfer.
bool downloadFile(CURL* curl, const std::string& url, const std::filesystem::path& path, bool raw);

// Downloads downloadSiteUrl() + name (name may hold a sub-folder, e.g. "mysimaddon24/x.zip")
// into path, raw; logs "Downloaded '{}' to '{}'" or, as a warning, "Downloading '{}' failed !".
bool downloadFromSite(std::string_view name, const std::filesystem::path& path);
