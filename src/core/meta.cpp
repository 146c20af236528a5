#include "core/meta.h"

#include <chrono>

#include <fmt/format.h>

#include "core/timeutil.h"
#include "core/version.h"

std::string g_metaSimTag = "MSFS";
std::mutex g_metaSimTagMutex;

std::string metaSimTag() {
  std::lock_guard lock(g_metaSimTagMutex);
  return g_metaSimTag;
}

void setMetaSimTag(std::string tag) {
  std::lock_guard lock(g_metaSimTagMutex);
  g_metaSimTag = std::move(tag);
}

void resetMetaSimTag() { setMetaSimTag("MSFS"); }

namespace {

std::string todayText() {
  using namespace std::chrono;
  const year_month_day ymd{floor<days>(kvo::utcNow())};
  return fmt::format("{:04}-{:02}-{:02}", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                     static_cast<unsigned>(ymd.day()));
}

void addInfo(pugi::xml_node meta, const char* name, const std::string& value) {
  pugi::xml_node info = meta.append_child("info");
  info.append_attribute("name") = name;
  info.append_attribute("value") = value.c_str();
}

}  // namespace

void writeMetaBlock(pugi::xml_node root) {
  while (pugi::xml_node old = root.child("meta")) root.remove_child(old);
  pugi::xml_node meta = root.prepend_child("meta");
  addInfo(meta, "author", "Ambrelvane");
  addInfo(meta, "version", g_programVersion.toString());
  addInfo(meta, "date", todayText());
  addInfo(meta, "copyright", "Ambrelvane");
  addInfo(meta, "P3D", "no");
  addInfo(meta, "MSFS", metaSimTag());
}

std::optional<std::map<std::string, std::string>> readMetaBlock(pugi::xml_node root) {
  pugi::xml_node meta = root.child("meta");
  if (!meta) return std::nullopt;
  std::map<std::string, std::string> entries;
  for (pugi::xml_node info : meta.children("info")) {
    entries[info.attribute("name").value()] = info.attribute("value").value();
  }
  return entries;
}
