#pragma once
// The program's resources on this machine. On Windows the resource compiler links the strings
// and icons of the resource script into the program's module, where LoadStringW and LoadIconW
// find them. There is no resource compiler here: the program's entry for this machine hands the
// same table to the stand-in before anything loads a resource. A Windows build drops this
// header together with that entry and compiles the resource script instead.

#include <span>

#include "platform/win32/win32.h"

namespace kvo::win32res {

struct StringResource {
  UINT id;
  const char16_t* text;  // must outlive the process's use of it (a literal)
};

struct IconResource {
  WORD id;
  int width;   // pixels of the large image
  int height;
};

// Makes the strings and icons the module's resources, replacing any table given before.
void registerModuleResources(std::span<const StringResource> strings, std::span<const IconResource> icons);

}  // namespace kvo::win32res
