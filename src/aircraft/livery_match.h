#pragma once
// The livery matching as the traffic engine calls it, on its own aircraft records. The records
// belong to the traffic engine (a higher subsystem), so these are templates over the fields
// they use: airline, type, registration, callsign, cargo, liveryTitle and reverseThrust (and,
// for a static aircraft, its stand's name and cargo mark).
#include <concepts>
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

#include "aircraft/livery_db.h"
#include "core/log.h"

template <typename A>
concept LiveryAircraft = requires(A& a) {
  { std::string_view(a.airline) };
  { std::string_view(a.type) };
  { std::string_view(a.registration) };
  { std::string_view(a.callsign) };
  a.liveryTitle = std::string_view();
  a.cargo = std::uint8_t{1};
  a.reverseThrust = std::uint8_t{1};
};

template <typename S>
concept LiveryStand = requires(const S& s) {
  { std::string_view(s.name) };
  { s.cargo != 0 } -> std::convertible_to<bool>;
};

namespace livery_detail {

// Stores the choice in the aircraft. The aircraft becomes a freighter when its livery is one;
// a freighter by its registration stays one whatever livery it gets.
template <LiveryAircraft A>
void applyChoice(A& ac, const std::optional<LiveryChoice>& choice) {
  if (!choice) {
    ac.liveryTitle = std::string_view();
    return;
  }
  ac.liveryTitle = choice->title;
  if (choice->cargo) ac.cargo = 1;
  ac.reverseThrust = choice->reverseThrust ? 1 : 0;
}

template <LiveryAircraft A>
std::string aircraftLabel(const A& ac) {
  return fmt::format("{:8} {:3} {:4} {}", std::string_view(ac.callsign), std::string_view(ac.airline),
                     std::string_view(ac.type), std::string_view(ac.registration));
}

}  // namespace livery_detail

// Sets the live aircraft's liveryTitle (empty when nothing matches), its cargo flag from the
// livery where that applies, and reverseThrust when the title contains "FSLTL_".
template <LiveryAircraft A>
void matchLiveAcLivery(A& ac) {
  livery_detail::applyChoice(ac, chooseLivery(LiveryRequest{ac.airline, ac.type, ac.registration, ac.cargo != 0}));
}

// The livery of a static aircraft being created on the stand: true when one was chosen and its
// title stored in the aircraft; false when none matches (logged "{:8}: {} no livery match ...").
template <LiveryAircraft A, LiveryStand S>
bool matchStaticAcLivery(A& ac, const S& stand) {
  const bool wantCargo = ac.cargo != 0 || stand.cargo != 0;
  const auto choice = chooseLivery(LiveryRequest{ac.airline, ac.type, ac.registration, wantCargo});
  livery_detail::applyChoice(ac, choice);
  if (!choice) {
    logLine(fmt::format("{:8}: {} no livery match ...", std::string_view(stand.name), livery_detail::aircraftLabel(ac)));
    return false;
  }
  return true;
}

// The simulator refused to create the aircraft with its livery: the title is never chosen again;
// throws kvo::UserErrorException 81 at the 20th failed title.
template <LiveryAircraft A>
void onLiveryCreateFailed(const A& ac) {
  onLiveryTitleCreateFailed(livery_detail::aircraftLabel(ac), ac.liveryTitle);
}
