#pragma once
// The user aircraft's title and ATC model, and from the model its ICAO type, half wing span and
// size category, which keep the traffic clear of the user's aircraft.
#include <atomic>
#include <string>
#include <string_view>

#include "aircraft/size_category.h"
#include "links/sim_messages.h"
#include "links/sim_records.h"

inline constexpr std::size_t kUserTitleMaxCharacters = 48;

// Client thread only.
extern std::string g_userAircraftTitle;
// The user aircraft's half wing span in nautical miles; set by every model answer.
extern kvo::AtomicOptionalDouble g_userHalfWingSpan;
extern std::atomic<SizeCategory> g_userSizeCategory;

// Answer to request 106: the title as a zero-terminated text.
void onUserAircraftTitle(const kvo::SimObjectDataMessage& message);
// Answer to request 107: the ATC model in a 32-byte field.
void deduceUserAircraftModel(const kvo::SimObjectDataMessage& message);

// The ICAO type that the fixed rules make of an ATC model (the title decides for "737").
std::string deriveUserAircraftModel(std::string_view atcModel, std::string_view title);
// The first `count` characters of a UTF-8 text, cut on a character boundary.
std::string firstCharacters(std::string_view text, std::size_t count);

void resetUserModelState();
