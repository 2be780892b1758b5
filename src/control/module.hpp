#pragma once

// The library's one account of what keeps it loaded: objects it made that
// are alive (controls, class-object references, stand-ins) and server locks.
// The C face and, on Windows, the COM face both keep it, and both
// DllCanUnloadNow entry points answer from it.

#include <control/kivphotoupload.h>

namespace kiv::module {

// Each answers how many objects are alive after it.
long objectCreated() noexcept;
long objectDestroyed() noexcept;
void lockServer(bool lock) noexcept;
bool idle() noexcept;

// The Upload class object as the C face hands it out. On Windows it is a
// face of the component system's class object, so one object makes controls
// for both faces.
kiv_class_factory* uploadClassObject() noexcept;

}  // namespace kiv::module

namespace kiv::cface {
// What the C face's class object does: made once, here, for every platform.
extern const kiv_class_factory_vtbl kClassFactoryVtbl;
}  // namespace kiv::cface
