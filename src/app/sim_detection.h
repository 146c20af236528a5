#pragma once
// Where the chosen simulator keeps its packages: the folder that holds "Community" and the
// simulator's own packages ("Official" for MSFS 2020, "Official2024" for MSFS 2024). Looked for
// in the places of the Steam, Store and boxed editions when the stored path of the chosen
// edition is empty. Read-only; runs on the start-up worker. The edition is g_simIs2020.
#include <filesystem>
#include <string>
#include <string_view>

// "Microsoft.FlightSimulator_8wekyb3d8bbwe" or "Microsoft.Limitless_8wekyb3d8bbwe".
std::filesystem::path getStorePackageFamily();
// "Microsoft Flight Simulator" or "Microsoft Flight Simulator 2024".
std::filesystem::path getSteamFolderName();
// The first existing UserCfg.opt of the Store, Steam1, Steam2 and Boxed places, else the last
// path tried (Boxed). Each miss is logged with the path tried.
std::filesystem::path findUserCfgOpt();
// AppData \ Steam folder name \ "Packages" when it exists, else empty.
std::filesystem::path findSteamPackages();
// The packages folder named by the InstalledPackagesPath line of UserCfg.opt; empty when there
// is no such file, line or folder.
std::filesystem::path readInstalledPackagesPath();
// The packages folder a UserCfg.opt text names: on the first line that holds
// "InstalledPackagesPath" (in any case), the text between its first two double quotes, or the
// rest of the line, trimmed, when it has none; empty when no line names one.
std::string installedPackagesPathIn(std::string_view text);
// Not empty, exists, and holds "Community" and the edition's own packages folder.
bool checkPackagesPath(const std::filesystem::path& path);
// The Steam packages folder, else the one UserCfg.opt names, when usable; else empty.
std::filesystem::path detectSimulator();
// The chosen edition's install path parameter joined with the subfolder.
std::filesystem::path getSimPackagesPath(std::string_view subfolder);
