#include "process_guard.hpp"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace kiv::app {

void keepSecretsOutOfCoreFiles() {
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
  // A core_pattern that pipes to a collector ignores the size limit; this does not.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace kiv::app
