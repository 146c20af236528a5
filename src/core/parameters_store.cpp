// The store parameters.xml: one parsed document for the process, guarded by one lock. Every
// save updates its entry in the document and writes the whole file atomically, so saves from
// several threads never lose each other's values and a crash never leaves half a file.
#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRootName = "parameters";
constexpr const char* kEntryName = "parameter";

struct Store {
  std::mutex mutex;
  pugi::xml_document doc;
  fs::path file;
  bool loaded = false;         // doc holds what the file held (or a fresh document)
  bool writesBlocked = false;  // a file we could neither read nor move aside: never overwrite it
};

// Built on first use and never destroyed, so that a save during another global's construction
// or destruction still finds it.
Store& store() {
  static Store& s = *new Store;
  return s;
}

struct Registry {
  std::mutex mutex;
  std::vector<Parameter*> extra;
};

Registry& registry() {
  static Registry& r = *new Registry;
  return r;
}

std::vector<Parameter*> loadedParameters() {
  std::vector<Parameter*> all = programParameters();
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  all.insert(all.end(), r.extra.begin(), r.extra.end());
  return all;
}

// Why the file could not be used; empty when it parsed.
struct ReadResult {
  bool present = false;
  std::string problem;
};

ReadResult readDocument(pugi::xml_document& doc, const fs::path& file) {
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    return {true, fmt::format("cannot be examined: {}", ec.message())};
  }
  if (!fs::exists(status)) return {false, {}};
  if (!fs::is_regular_file(status)) return {true, "is not a file"};

  std::ifstream in(file, std::ios::binary);
  if (!in) return {true, "cannot be opened"};
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return {true, "cannot be read"};

  const pugi::xml_parse_result parsed =
      doc.load_buffer(content.data(), content.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed) {
    return {true, fmt::format("{} at offset {}", parsed.description(), parsed.offset)};
  }
  int elements = 0;
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element) ++elements;
  }
  if (elements != 1 || std::string_view(doc.document_element().name()) != kRootName) {
    return {true, fmt::format("its root element is not \"{}\"", kRootName)};
  }
  return {true, {}};
}

// parameters.xml.bad-YYYYMMDD-HHMMSS beside the file; a number is added when that name is taken.
fs::path asidePath(const fs::path& file) {
  const std::time_t now = kvo::Clock::to_time_t(kvo::utcNow());
  std::tm tm{};
  gmtime_r(&now, &tm);
  const std::string base = fmt::format("{}.bad-{:04}{:02}{:02}-{:02}{:02}{:02}",
                                       file.filename().string(), tm.tm_year + 1900, tm.tm_mon + 1,
                                       tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  fs::path aside = file.parent_path() / base;
  std::error_code ec;
  for (int n = 1; fs::exists(aside, ec) && n < 1000; ++n) {
    aside = file.parent_path() / fmt::format("{}-{}", base, n);
  }
  return aside;
}

// A file that cannot serve is kept for the user instead of being overwritten by defaults.
void moveAside(Store& s, const std::string& problem) {
  const fs::path aside = asidePath(s.file);
  std::error_code ec;
  fs::rename(s.file, aside, ec);
  if (ec) {
    s.writesBlocked = true;
    logArrowLine(fmt::format("{} {} and cannot be moved aside ({}): default settings in use, "
                             "settings will not be saved",
                             s.file.string(), problem, ec.message()));
    return;
  }
  logArrowLine(fmt::format("{} is not well-formed ({}): kept as {}, default settings in use",
                           s.file.string(), problem, aside.filename().string()));
}

// Reads the file into the store's document. True when the file on disk must be (re)written:
// it was missing or had to be moved aside.
bool openStoreLocked(Store& s) {
  s.doc.reset();
  s.loaded = true;
  s.writesBlocked = false;
  s.file = parametersFilePath();
  bool fresh = false;
  if (s.file.empty()) {
    s.writesBlocked = true;
    logArrowLine("No folder for parameters.xml: settings will not be saved");
  } else {
    const ReadResult r = readDocument(s.doc, s.file);
    if (!r.present) {
      fresh = true;
    } else if (!r.problem.empty()) {
      s.doc.reset();
      moveAside(s, r.problem);
      fresh = true;
    }
  }
  // Only the root's entries with a plain name are kept, each with its value: text or other
  // elements around them may be written back in a form that does not read back, and the next
  // start would then set every value aside.
  pugi::xml_document kept;
  pugi::xml_node root = kept.append_child(kRootName);
  for (const pugi::xml_node entry : s.doc.child(kRootName).children(kEntryName)) {
    const pugi::xml_attribute name = entry.attribute("name");
    if (!isSafeParameterName(name.value())) continue;
    pugi::xml_node copy = root.append_child(kEntryName);
    copy.append_attribute("name").set_value(name.value());
    const pugi::xml_attribute value = entry.attribute("value");
    if (value) copy.append_attribute("value").set_value(value.value());
  }
  s.doc.reset(kept);
  return fresh;
}

pugi::xml_node findEntry(const pugi::xml_document& doc, std::string_view name) {
  if (!isSafeParameterName(name)) return {};
  return doc.select_node(fmt::format("/{}/{}[@name='{}']", kRootName, kEntryName, name).c_str())
      .node();
}

void setEntryLocked(pugi::xml_document& doc, const std::string& name, const std::string& text) {
  pugi::xml_node entry = findEntry(doc, name);
  if (!entry) {
    entry = doc.child(kRootName).append_child(kEntryName);
    entry.append_attribute("name").set_value(name.c_str());
  }
  pugi::xml_attribute value = entry.attribute("value");
  if (!value) value = entry.append_attribute("value");
  value.set_value(text.c_str());
}

bool writeLocked(Store& s) {
  if (s.writesBlocked) {
    logArrowLine(fmt::format("parameters.xml not saved: {}",
                             s.file.empty() ? "no folder for it" : "the old file is in the way"));
    return false;
  }
  std::error_code ec;
  fs::create_directories(s.file.parent_path(), ec);
  if (ec) {
    logArrowLine(fmt::format("Saving {} failed: cannot create its folder ({})", s.file.string(),
                             ec.message()));
    return false;
  }
  if (!writeFileAtomically(s.file, xmlFileText(s.doc, "  "))) {
    logArrowLine(fmt::format("Saving {} failed", s.file.string()));
    return false;
  }
  return true;
}

bool saveParameter(const Parameter& parameter) {
  try {
    if (!isSafeParameterName(parameter.name())) {
      logArrowLine(fmt::format("Parameter name '{}' cannot be saved", parameter.name()));
      return false;
    }
    Store& s = store();
    std::lock_guard lock(s.mutex);
    if (!s.loaded) {
      // A save before the first load (the window position at start-up) must keep the file's
      // other settings, so the file is read first.
      openStoreLocked(s);
    }
    // The value is read under the lock: the last save to write the file has the newest value.
    setEntryLocked(s.doc, parameter.name(), parameter.storedText());
    return writeLocked(s);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("Saving {} failed: {}", parameter.name(), e.what()));
    return false;
  }
}

}  // namespace

bool isSafeParameterName(std::string_view name) noexcept {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

fs::path parametersFilePath() {
  const fs::path folder = programFolder();
  if (folder.empty()) return {};
  return folder / "parameters.xml";
}

void registerParameter(Parameter& parameter) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (std::find(r.extra.begin(), r.extra.end(), &parameter) == r.extra.end()) {
    r.extra.push_back(&parameter);
  }
}

void unregisterParameter(Parameter& parameter) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase(r.extra, &parameter);
}

Parameter* findParameter(std::string_view name) {
  for (Parameter* p : loadedParameters()) {
    if (p->name() == name) return p;
  }
  return nullptr;
}

LoadOutcome loadParameter(Parameter& parameter, const pugi::xml_document& doc, bool log) {
  LoadOutcome outcome = LoadOutcome::Missing;
  const pugi::xml_node entry = findEntry(doc, parameter.name());
  const pugi::xml_attribute value = entry.attribute("value");
  if (value) {
    const std::string stored = value.value();
    outcome = parameter.takeStoredText(stored);
    if (outcome == LoadOutcome::Unreadable) {
      logArrowLine(fmt::format("parameters.xml: '{}' is no value of {}, {} in use", stored,
                               parameter.name(), parameter.storedText()));
    } else if (outcome == LoadOutcome::Adjusted) {
      logLine(fmt::format("parameters.xml: {} '{}' taken as {}", parameter.name(), stored,
                          parameter.storedText()));
    }
  }
  if (log) logLine(fmt::format("{}={}", parameter.name(), parameter.storedText()));
  return outcome;
}

LoadOutcome loadIntParameter(IntParameter& parameter, const pugi::xml_document& doc, bool log) {
  return loadParameter(parameter, doc, log);
}

void loadAllParameters() {
  try {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    bool write = openStoreLocked(s);
    for (Parameter* p : loadedParameters()) {
      // The install path of the chosen simulator is set at every start-up, never loaded.
      if (p == &ALL_INSTALL_PATH || p->kind() == ParameterKind::Button) continue;
      loadParameter(*p, s.doc, true);
      // Missing entries are added and fitted or unreadable values written back, so the file
      // shows what is in force.
      const std::string inForce = p->storedText();
      const pugi::xml_attribute stored = findEntry(s.doc, p->name()).attribute("value");
      if (!stored || inForce != stored.value()) {
        setEntryLocked(s.doc, p->name(), inForce);
        write = true;
      }
    }
    if (write) writeLocked(s);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("loadAllParameters exception: {}", e.what()));
  }
  g_rangeNm.store(RANGE.value());
  g_rangeMeters.store(RANGE.value() * 1852.0);
  g_simIs2020.store(SIM_CHOICE.value() == "MSFS 2020");
}

bool saveBoolParameter(const BoolParameter& parameter) { return saveParameter(parameter); }
bool saveIntParameter(const IntParameter& parameter) { return saveParameter(parameter); }
bool saveFloatParameter(const FloatParameter& parameter) { return saveParameter(parameter); }
bool saveStringParameter(const StringParameter& parameter) { return saveParameter(parameter); }

bool setAndSaveStringParameter(StringParameter& parameter, std::string text) {
  parameter.set(std::move(text));
  return saveParameter(parameter);
}

void resetParametersForTests() {
  for (Parameter* p : loadedParameters()) {
    p->resetToDefault();
    if (ControlBinding* b = bindingOf(*p)) {
      b->hwnd = nullptr;
      b->previousProc = 0;
    }
  }
  {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    s.doc.reset();
    s.file.clear();
    s.loaded = false;
    s.writesBlocked = false;
  }
  g_rangeNm.store(RANGE.defaultValue());
  g_rangeMeters.store(RANGE.defaultValue() * 1852.0);
  g_simIs2020.store(true);
}
