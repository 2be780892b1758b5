#pragma once

// Symbols are hidden by default; KIV_EXPORT marks what the shared library offers
// to hosts and outside programs.
#if defined(KIV_BUILDING_LIBRARY)
#define KIV_EXPORT __attribute__((visibility("default")))
#else
#define KIV_EXPORT
#endif
