#include "airports/addon_scan_pending.h"

void scanAddonAirports() {}
