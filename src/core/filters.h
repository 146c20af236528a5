#pragma once
#include <string_view>

// True for the ICAO type designators of things that are no aircraft to show: BALL, EMER, GLID,
// GRND, PARA, SERV, SHIP, VENT.
bool isSpecialType(std::string_view icaoType);

// False for an empty type; true for an empty or "null" category; false for the categories B1,
// B2, B4, C1, C2; else true unless isSpecialType(icaoType).
bool isShowableAircraft(std::string_view icaoType, std::string_view emitterCategory);
