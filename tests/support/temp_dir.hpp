#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace kiv::test {

// A fresh folder for one test, removed with everything in it when it goes out
// of scope. Lives under $KIV_TEST_TMPDIR (set by CTest) or the system's temp.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes text to a file, creating folders on the way.
void writeFile(const std::filesystem::path& file, const std::string& content);
std::string readFile(const std::filesystem::path& file);

// Every regular file under root, as paths relative to it.
inline std::set<std::string> filesUnder(const std::filesystem::path& root) {
  std::set<std::string> files;
  if (!std::filesystem::exists(root)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.insert(std::filesystem::relative(entry.path(), root).generic_string());
  }
  return files;
}

}  // namespace kiv::test
