#pragma once

// Internal to the file-system layer: what each system's implementation gives
// the code all of them share (folders.cpp).

#include <string>
#include <vector>

namespace kiv::fs::detail {

struct Listing {
  std::vector<std::string> files;
  std::vector<std::string> folders;
};

// The visible regular files and real folders of one folder, each list sorted
// by name, case folded (ties by exact name). Links, special files and hidden
// entries are left out: a link could lead a photo, or a whole folder of them,
// in from outside, and a pipe would block whoever opened it.
Listing list(const std::string& folder);

// The first entry inside `folder` (at any depth, hidden ones included) that is
// not a real folder, or "" when there is none. Links inside are never
// followed. `folders` receives the real folders, innermost first.
std::string findAnyFile(const std::string& folder, std::vector<std::string>& folders);

std::string withoutTrailingSeparators(std::string path);
std::string lastComponent(const std::string& path);
std::string join(const std::string& folder, const std::string& name);

}  // namespace kiv::fs::detail
