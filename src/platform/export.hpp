#pragma once

// Symbols are hidden by default; KIV_EXPORT marks what the shared library offers
// to hosts and outside programs. On Windows users need no import marking:
// mingw's linker reaches functions through the import library and data through
// its automatic import.
#if defined(KIV_BUILDING_LIBRARY) && defined(_WIN32)
#define KIV_EXPORT __declspec(dllexport)
#elif defined(KIV_BUILDING_LIBRARY)
#define KIV_EXPORT __attribute__((visibility("default")))
#else
#define KIV_EXPORT
#endif
