#pragma once

// Internal to the file-system layer: what each system's implementation gives
// the code all of them share (folders.cpp, working_copy.cpp).

#include <platform/filesystem/filesystem.hpp>

#include <cstdint>
#include <string>
#include <string_view>
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

// The open file's stamp now. Throws kiv::Error naming the path.
FileStamp stampOfOpen(std::intptr_t descriptor, const std::string& path);

// Writes content to the new file `to`, created exclusively, not flushed: a
// working file lives no longer than the run. Throws kiv::Error naming `to`.
void writeNewFile(const std::string& to, std::string_view content);

// Copies the open file, from its start, into the new file `to`; the byte
// count. Throws kiv::Error naming `from`, the path the file was opened at.
std::int64_t copyWhole(std::intptr_t descriptor, const std::string& from, const std::string& to);

// kiv::Error with this number, the message naming the path and the reason.
[[noreturn]] void fail(int number, const std::string& path, const std::string& reason);

std::string withoutTrailingSeparators(std::string path);
std::string lastComponent(const std::string& path);
std::string join(const std::string& folder, const std::string& name);

}  // namespace kiv::fs::detail
