#include "support/wine.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kiv::test {

bool underWine() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace kiv::test
