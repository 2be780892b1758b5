#include "module.hpp"

#include <atomic>

namespace kiv::module {
namespace {

std::atomic<long> gObjects{0};
std::atomic<long> gLocks{0};

}  // namespace

long objectCreated() noexcept { return ++gObjects; }
long objectDestroyed() noexcept { return --gObjects; }

void lockServer(bool lock) noexcept {
  if (lock) ++gLocks;
  else if (gLocks > 0) --gLocks;
}

bool idle() noexcept { return gObjects == 0 && gLocks == 0; }

#ifndef _WIN32
kiv_class_factory* uploadClassObject() noexcept {
  static kiv_class_factory classObject{&cface::kClassFactoryVtbl};
  return &classObject;
}
#endif

}  // namespace kiv::module
