#include "links/sim_user_model.h"

#include <fmt/format.h>

#include <array>
#include <optional>

#include "aircraft/aircraft_types.h"
#include "core/log.h"
#include "links/sim_ids.h"
#include "shared_state/main_window.h"

std::string g_userAircraftTitle;
kvo::AtomicOptionalDouble g_userHalfWingSpan;
std::atomic<SizeCategory> g_userSizeCategory{Light};

namespace {

constexpr const char* kUnknownAircraft = "Unknown (encrypted?) aircraft";

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The data base's half span of a type, none when the data base does not hold the type. (For a
// type it does not hold, getWingspan answers the span of its size class, which would pass for a
// found span.)
std::optional<double> heldHalfSpan(std::string_view type) {
  if (!isKnownType(type)) return std::nullopt;
  return getWingspan(type);
}

}  // namespace

std::string firstCharacters(std::string_view text, std::size_t count) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A character starts at every byte that is not a UTF-8 continuation byte.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (characters == count) return std::string(text.substr(0, i));
      ++characters;
    }
  }
  return std::string(text);
}

std::string deriveUserAircraftModel(std::string_view atc, std::string_view title) {
  if (atc == "A350-900") return "A359";
  if (atc == "N738B") return "B38M";
  if (atc == "777") return "772";
  if (atc == "A330-200 (RR)") return "A332";
  if (const std::size_t at = atc.find(".0.text"); at != std::string_view::npos) {
    for (std::size_t n : {4u, 3u, 2u}) {
      if (at < n) continue;
      const std::string_view candidate = atc.substr(at - n, n);
      if (heldHalfSpan(candidate)) return std::string(candidate);
    }
    return std::string(atc);
  }
  if (atc.starts_with("$$:") && atc.size() >= 5) return std::string(atc.substr(3));
  if (atc == "737") {
    if (contains(title, "DG 737-800")) return "B738";
    if (contains(title, "DG 737-700")) return "B737";
    if (contains(title, "DG 737-600")) return "B736";
    if (contains(title, "DG 737-900")) return "B739";
    return "737";
  }
  return std::string(atc);
}

void onUserAircraftTitle(const kvo::SimObjectDataMessage& message) {
  const std::string raw = kvo::simText(message.data);
  if (raw.empty()) {
    logLine("! Title of your aircraft is empty?");
    return;
  }
  std::string title = firstCharacters(raw, kUserTitleMaxCharacters);
  if (title == g_userAircraftTitle) return;
  g_mainWindow.setDisplayText(&kvo::MainWindow::userAircraftText, title, g_statusAreaRect);
  g_mainWindow.invalidate(g_statusAreaRect);
  g_userAircraftTitle = std::move(title);
  logIndentedLine("SimConnect: User aircraft title: " + g_userAircraftTitle);
}

void deduceUserAircraftModel(const kvo::SimObjectDataMessage& message) {
  const std::string atc = kvo::simText(message.data.first(std::min<std::size_t>(message.data.size(), kvo::kUserModelSize)));
  const double maxSpan = g_maxHalfWingSpan.load();

  if (atc.empty()) {
    g_mainWindow.setDisplayText(&kvo::MainWindow::userAircraftText, kUnknownAircraft, g_statusAreaRect);
    g_mainWindow.invalidate(g_statusAreaRect);
    g_mainWindow.showMessage("171: No model info from your user aircraft received in SimConnect, CRJ7 is taken instead",
                             true);
    g_userHalfWingSpan.store(heldHalfSpan("CRJ7").value_or(maxSpan));
    return;
  }

  logIndentedLine("model raw: " + atc);
  std::string model = deriveUserAircraftModel(atc, g_userAircraftTitle);
  std::string logText = "SimConnect: User aircraft model: " + model;

  if (contains(model, "camerapod") || contains(model, "Crew Vessel")) {
    // A camera or a vessel, not an aircraft.
    g_mainWindow.g_userWingSpanKnown = true;
    g_mainWindow.invalidate(g_statusAreaRect);
    g_userHalfWingSpan.store(getWingspan("E190"));
    g_userSizeCategory = Light;
    logIndentedLine(logText);
    return;
  }

  double span = maxSpan;
  bool found = false;
  if (model.size() <= 4) {
    if (auto held = heldHalfSpan(model)) {
      span = *held;
      found = true;
    }
  }
  if (!found) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kTitleModels{
        {{"Aerosoft A319", "A319"}, {"Aerosoft A320", "A320"}, {"Aerosoft A321", "A321"}}};
    for (const auto& [prefix, titleModel] : kTitleModels) {
      if (!g_userAircraftTitle.starts_with(prefix)) continue;
      model = titleModel;
      logText = "SimConnect: User aircraft model deduced from title: " + model;
      const auto held = heldHalfSpan(model);
      span = held.value_or(maxSpan);
      found = held.has_value();
      break;
    }
  }
  g_userHalfWingSpan.store(span);

  g_mainWindow.g_userWingSpanKnown = found;
  g_mainWindow.invalidate(g_statusAreaRect);
  if (found) {
    logText += fmt::format(", half wing span: {:.1F} meter", span * 1852.0);
  } else {
    g_mainWindow.showMessage("User aircraft wing span unknown, max is taken instead, please report in my Forum!", true);
  }

  const SizeCategory category = getSizeCategory(model);
  g_userSizeCategory = category;
  logText += fmt::format(", category: {}", kvo::sizeCategoryText(category));
  logIndentedLine(logText);
}

void resetUserModelState() {
  g_userAircraftTitle.clear();
  g_userHalfWingSpan.reset();
  g_userSizeCategory = Light;
}
