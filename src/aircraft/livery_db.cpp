#include "aircraft/livery_db.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "aircraft/aircraft_types.h"
#include "aircraft/dbase.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/user_error.h"

SpecialLiveries g_specialLiveries;
std::set<std::string> g_noMatchTitles;

namespace {

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
template <typename Value>
using TextMap = std::unordered_map<std::string, Value, TextHash, std::equal_to<>>;

// ---- the title pool ----
// Node-based, so a title never moves once it is in; entries leave only in releaseLiveryTitles.
std::mutex g_poolMutex;
std::unordered_set<std::string, TextHash, std::equal_to<>> g_titlePool;

std::string_view internTitle(std::string_view title) {
  std::lock_guard lock(g_poolMutex);
  auto it = g_titlePool.find(title);
  if (it == g_titlePool.end()) it = g_titlePool.emplace(title).first;
  return *it;
}

// ---- the data base ----
struct Entry {
  std::string_view title;
  std::uint32_t folderIndex = 0;
  bool cargo = false;
  bool airframe = false;  // the livery of one airframe (an ATC id or a special livery)
  bool failed = false;    // changed only under the unique lock
};

// The liveries of one key, split by cargo flag, each sorted by folder index, then scan order.
struct Bucket {
  std::array<std::vector<std::uint32_t>, 2> byCargo;
};

struct Db {
  std::vector<Entry> entries;
  TextMap<Bucket> byAirlineType;  // airline + '|' + type
  TextMap<Bucket> byType;
  std::unordered_map<std::string_view, std::uint32_t> byTitle;
  TextMap<std::vector<std::string>> related;  // type -> related types that have liveries
  TextMap<std::string_view> special;          // normalised registration -> title
};

std::shared_mutex g_dbMutex;
Db g_db;

// Failed titles, kept as text of their own (independent of the pool). Lock order: the data
// base first, then this one.
std::mutex g_failedMutex;
std::unordered_set<std::string, TextHash, std::equal_to<>> g_failedTitles;

// Worker-only.
std::unordered_map<std::uint32_t, std::string_view> g_requestTitles;

std::array<std::atomic<std::uint64_t>, 5> g_rungCounts{};  // [0] no match, [1..4] the rungs

void appendKey(std::string& out, std::string_view airline, std::string_view type) {
  out.assign(airline);
  out.push_back('|');
  out.append(type);
}

bool hasFsltlMark(std::string_view title) { return title.find("FSLTL_") != std::string_view::npos; }

// The best candidates of some buckets: cargo fit first, then the lowest folder index, then a
// livery that is no single airframe's own; of the equal ones a random one (RANDOM) or the first.
std::optional<std::uint32_t> pick(const Db& db, const std::vector<const Bucket*>& buckets, bool wantCargo) {
  const auto rank = [](const Entry& e) { return (std::uint64_t{e.folderIndex} << 1) | (e.airframe ? 1u : 0u); };
  const bool random = RANDOM.value();
  for (const bool cargo : {wantCargo, !wantCargo}) {
    const std::size_t side = cargo ? 1 : 0;
    std::uint64_t best = UINT64_MAX;
    std::size_t ties = 0;
    for (const Bucket* b : buckets) {
      for (std::uint32_t idx : b->byCargo[side]) {
        const Entry& e = db.entries[idx];
        if (e.failed) continue;
        const std::uint64_t r = rank(e);
        if ((r >> 1) > (best >> 1)) break;  // sorted by folder: nothing better follows
        if (r > best) continue;
        if (r < best) {
          best = r;
          ties = 0;
        }
        ++ties;
        if (!random && !e.airframe) break;  // the first one of this bucket is its answer
      }
    }
    if (ties == 0) continue;
    std::size_t chosen = 0;
    if (random && ties > 1) chosen = std::uniform_int_distribution<std::size_t>(0, ties - 1)(threadRandomEngine());
    for (const Bucket* b : buckets) {
      for (std::uint32_t idx : b->byCargo[side]) {
        const Entry& e = db.entries[idx];
        if (e.failed || rank(e) != best) {
          if ((rank(e) >> 1) > (best >> 1)) break;
          continue;
        }
        if (chosen == 0) return idx;
        --chosen;
      }
    }
  }
  return std::nullopt;
}

LiveryChoice choiceOf(const Entry& e, LiveryRung rung) {
  return LiveryChoice{e.title, e.cargo, hasFsltlMark(e.title), rung};
}

void addTo(Bucket& bucket, std::uint32_t idx, bool cargo) { bucket.byCargo[cargo ? 1 : 0].push_back(idx); }

}  // namespace

std::optional<LiveryChoice> chooseLivery(const LiveryRequest& request) {
  const int depth = std::clamp(MATCHING_DEPTH.value(), 1, 4);
  std::shared_lock lock(g_dbMutex);
  const Db& db = g_db;
  auto found = [&](const Entry& e, LiveryRung rung) {
    g_rungCounts[static_cast<std::size_t>(rung)].fetch_add(1, std::memory_order_relaxed);
    return choiceOf(e, rung);
  };

  if (!request.registration.empty() && !db.special.empty()) {
    if (auto it = db.special.find(normaliseRegistration(request.registration)); it != db.special.end()) {
      if (auto t = db.byTitle.find(it->second); t != db.byTitle.end() && !db.entries[t->second].failed) {
        return found(db.entries[t->second], LiveryRung::SpecialLivery);
      }
    }
  }
  thread_local std::string key;
  thread_local std::vector<const Bucket*> buckets;
  if (depth >= 2 && !request.airline.empty()) {
    appendKey(key, request.airline, request.type);
    if (auto it = db.byAirlineType.find(key); it != db.byAirlineType.end()) {
      buckets.assign(1, &it->second);
      if (auto idx = pick(db, buckets, request.cargo)) return found(db.entries[*idx], LiveryRung::AirlineType);
    }
  }
  if (depth >= 3 && !request.airline.empty()) {
    if (auto rel = db.related.find(request.type); rel != db.related.end()) {
      buckets.clear();
      for (const std::string& other : rel->second) {
        appendKey(key, request.airline, other);
        if (auto it = db.byAirlineType.find(key); it != db.byAirlineType.end()) buckets.push_back(&it->second);
      }
      if (auto idx = pick(db, buckets, request.cargo)) return found(db.entries[*idx], LiveryRung::AirlineRelated);
    }
  }
  if (depth >= 4) {
    if (auto it = db.byType.find(request.type); it != db.byType.end()) {
      buckets.assign(1, &it->second);
      if (auto idx = pick(db, buckets, request.cargo)) return found(db.entries[*idx], LiveryRung::TypeOnly);
    }
  }
  g_rungCounts[0].fetch_add(1, std::memory_order_relaxed);
  return std::nullopt;
}

void buildLiveryDb(const std::vector<LiveryData>& liveries) {
  Db db;
  db.entries.reserve(liveries.size());
  std::string key;
  // The input is in scan order; a stable sort by folder index keeps that order within a folder.
  std::vector<std::uint32_t> order(liveries.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return liveries[a].folderIndex < liveries[b].folderIndex; });
  for (std::uint32_t i : order) {
    const LiveryData& l = liveries[i];
    if (l.title.empty() || l.type.empty()) continue;
    const std::string_view title = internTitle(l.title);
    if (db.byTitle.contains(title)) continue;  // the first of equal titles wins
    const auto idx = static_cast<std::uint32_t>(db.entries.size());
    db.entries.push_back(Entry{title, l.folderIndex, l.cargo != 0, !l.atcid.empty(), false});
    db.byTitle.emplace(title, idx);
    addTo(db.byType[l.type], idx, l.cargo != 0);
    if (!l.airline.empty()) {
      appendKey(key, l.airline, l.type);
      addTo(db.byAirlineType[key], idx, l.cargo != 0);
    }
    if (!l.atcid.empty()) db.special.try_emplace(normaliseRegistration(l.atcid), title);
  }
  // The data files' special liveries come before the ATC ids of the scan, but only when their
  // title is installed: an uninstalled title would never match and keep respawning the aircraft.
  for (const SpecialLiveryRecord& s : dataSpecialLiveries()) {
    if (auto t = db.byTitle.find(std::string_view(s.title)); t != db.byTitle.end()) {
      db.special.insert_or_assign(normaliseRegistration(s.registration), t->first);
      db.entries[t->second].airframe = true;
    }
  }
  // Related types for every known type, also for those without a livery of their own.
  for (const std::string& type : knownTypeDesignators()) {
    std::vector<std::string> rel;
    for (std::string& other : relatedTypes(type)) {
      if (db.byType.contains(other)) rel.push_back(std::move(other));
    }
    if (!rel.empty()) db.related.emplace(type, std::move(rel));
  }
  std::unique_lock lock(g_dbMutex);
  {
    std::lock_guard failedLock(g_failedMutex);
    for (Entry& e : db.entries) e.failed = g_failedTitles.contains(e.title);
  }
  g_db = std::move(db);
}

std::size_t liveryDbSize() {
  std::shared_lock lock(g_dbMutex);
  return g_db.entries.size();
}

void clearLiveryDb() {
  Db empty;
  {
    std::unique_lock lock(g_dbMutex);
    std::swap(g_db, empty);
    std::lock_guard failedLock(g_failedMutex);
    g_failedTitles.clear();
  }
  // The old tables are freed outside the lock; the titles stay in the pool.
}

void reserveLiveryDb() {
  g_requestTitles.reserve(1024);
}

void releaseLiveryTitles() {
  std::shared_lock lock(g_dbMutex);
  std::unordered_set<const char*> used;
  used.reserve(g_db.entries.size() + g_requestTitles.size());
  for (const Entry& e : g_db.entries) used.insert(e.title.data());
  for (const auto& [id, title] : g_requestTitles) used.insert(title.data());
  std::lock_guard poolLock(g_poolMutex);
  for (auto it = g_titlePool.begin(); it != g_titlePool.end();) {
    it = used.contains(it->data()) ? std::next(it) : g_titlePool.erase(it);
  }
}

std::size_t liveryTitlePoolSize() {
  std::lock_guard lock(g_poolMutex);
  return g_titlePool.size();
}

std::string_view SpecialLiveries::titleFor(std::string_view registration) const {
  if (registration.empty()) return {};
  const std::string key = normaliseRegistration(registration);
  std::shared_lock lock(g_dbMutex);
  auto it = g_db.special.find(key);
  return it == g_db.special.end() ? std::string_view() : it->second;
}

std::size_t SpecialLiveries::size() const {
  std::shared_lock lock(g_dbMutex);
  return g_db.special.size();
}

std::string_view liveryTitleForRequest(std::uint32_t internalId) {
  auto it = g_requestTitles.find(internalId);
  if (it == g_requestTitles.end()) return {};
  if (isFailedLiveryTitle(it->second)) {
    g_requestTitles.erase(it);
    return {};
  }
  return it->second;
}

void rememberLiveryForRequest(std::uint32_t internalId, std::string_view title) {
  if (title.empty()) {
    g_requestTitles.erase(internalId);
    return;
  }
  // Interned, so that the remembered view stays valid whatever the caller's text was.
  g_requestTitles.insert_or_assign(internalId, internTitle(title));
}

void forgetLiveryForRequest(std::uint32_t internalId) { g_requestTitles.erase(internalId); }

void clearLiveryRequests() { g_requestTitles.clear(); }

void onLiveryTitleCreateFailed(std::string_view aircraftText, std::string_view title) {
  logArrowLine(fmt::format("{} '{}' could not be created by your Sim!", aircraftText, title));
  if (title.empty()) return;
  std::size_t count = 0;
  {
    std::unique_lock lock(g_dbMutex);
    if (auto t = g_db.byTitle.find(title); t != g_db.byTitle.end()) g_db.entries[t->second].failed = true;
    std::lock_guard failedLock(g_failedMutex);
    g_failedTitles.emplace(title);
    count = g_failedTitles.size();
  }
  if (count >= kFailedLiveryLimit) {
    throw kvo::UserErrorException(
        kFailedLiveriesErrorCode,
        fmt::format("{} liveries could not be created by your Sim, please check your AI packages and rescan "
                    "your liveries",
                    count));
  }
}

bool isFailedLiveryTitle(std::string_view title) {
  std::lock_guard lock(g_failedMutex);
  return g_failedTitles.contains(title);
}

std::size_t failedLiveryTitleCount() {
  std::lock_guard lock(g_failedMutex);
  return g_failedTitles.size();
}

void logNoMatchList() {
  if (!LOG.value() || g_noMatchTitles.empty()) return;
  logLine(fmt::format("No livery found for {} aircraft (type, airline, registration):", g_noMatchTitles.size()));
  for (const std::string& text : g_noMatchTitles) logIndentedLine(text);
}

void logLiveryMatchingSummary() {
  const auto n = [](LiveryRung r) { return g_rungCounts[static_cast<std::size_t>(r)].load(); };
  const std::uint64_t matched =
      n(LiveryRung::SpecialLivery) + n(LiveryRung::AirlineType) + n(LiveryRung::AirlineRelated) + n(LiveryRung::TypeOnly);
  const std::size_t failed = failedLiveryTitleCount();
  logLine(fmt::format("Livery matching: {} matched ({} special livery, {} airline and type, {} airline and "
                      "related type, {} type only), {} without a livery, {} failed title{}, {} liveries installed",
                      matched, n(LiveryRung::SpecialLivery), n(LiveryRung::AirlineType),
                      n(LiveryRung::AirlineRelated), n(LiveryRung::TypeOnly), g_rungCounts[0].load(), failed,
                      pluralSuffix(failed), liveryDbSize()));
}

void resetLiveryDbForTests() {
  clearLiveryDb();
  g_requestTitles.clear();
  g_noMatchTitles.clear();
  for (auto& c : g_rungCounts) c = 0;
  std::lock_guard lock(g_poolMutex);
  g_titlePool.clear();
}
