#pragma once
// The meta block of the program's own XML files: "meta" with "info" elements carrying "name"
// and "value" for author, version, date, copyright, P3D and MSFS.
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <pugixml.hpp>

// The value written for the "MSFS" entry ("MSFS" or "MSFS2024"). Use metaSimTag() /
// setMetaSimTag(), which take g_metaSimTagMutex.
extern std::string g_metaSimTag;
extern std::mutex g_metaSimTagMutex;
std::string metaSimTag();
void setMetaSimTag(std::string tag);
void resetMetaSimTag();  // back to "MSFS"

// Puts the "meta" block as the first child of root (an existing one is replaced).
void writeMetaBlock(pugi::xml_node root);

// name -> value of the "info" elements of root's "meta" child; nullopt without a meta block.
std::optional<std::map<std::string, std::string>> readMetaBlock(pugi::xml_node root);
