#pragma once
// The add-on airport scan (the BGL files of the installed add-on airports), which the start-up
// worker runs while SCAN_AIRPORTS is on. It is built with the add-on scenery scan; until then
// it scans nothing.
void scanAddonAirports();
