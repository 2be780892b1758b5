// The registry is a text file in the user's data folder
// ($XDG_DATA_HOME/kivPhotoUpload/registry): one "[class id]" section per class,
// then its values as "name=value" lines.
#include <platform/filesystem/filesystem.hpp>
#include <platform/filesystem/registry.hpp>
#include <platform/host/text.hpp>

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace kiv::fs {
namespace {

namespace stdfs = std::filesystem;

constexpr std::size_t kMaxRegistryBytes = 16 * 1024 * 1024;

stdfs::path registryFile() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  stdfs::path base;
  if (xdg != nullptr && *xdg != '\0' && stdfs::path(xdg).is_absolute()) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
      const passwd* pw = getpwuid(getuid());
      if (pw == nullptr || pw->pw_dir == nullptr) throw std::runtime_error("no home folder for the registry");
      home = pw->pw_dir;
    }
    base = stdfs::path(home) / ".local" / "share";
  }
  return base / "kivPhotoUpload" / "registry";
}

// Built piece by piece: GCC 12 at -O3 warns (-Wrestrict) about "[" + text + "]".
std::string sectionHeader(std::string_view classId) {
  std::string header(1, '[');
  header.append(classId).push_back(']');
  return header;
}

void rejectLineBreaks(const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos)
    throw std::runtime_error("a registry value cannot hold a line break: " + text);
}

// The registry's text without the class's section; other sections stay as they are.
std::string withoutSection(const std::string& registry, std::string_view classId) {
  std::istringstream in(registry);
  std::string kept, line;
  bool skipping = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.front() == '[') skipping = text::equalsIgnoringCase(line, sectionHeader(classId));
    if (!skipping) kept += line + '\n';
  }
  return kept;
}

void rewrite(std::string_view classId, const ClassValues* values) {
  const stdfs::path file = registryFile();
  const std::optional<std::string> registry = ReadSmallFile(file.string(), kMaxRegistryBytes);
  if (values == nullptr && !registry) return;
  std::string text = withoutSection(registry.value_or(""), classId);
  if (values != nullptr) {
    if (text.empty()) text = "# kivPhotoUpload per-user component registry\n";
    text += sectionHeader(classId) + '\n';
    for (const auto& [name, value] : *values) {
      rejectLineBreaks(value);
      text += name + '=' + value + '\n';
    }
  }
  CreateFolders(file.parent_path().string());
  ReplaceFileAtomically(file.string(), text, 0600);
}

}  // namespace

void enterClass(std::string_view classId, const ClassValues& values) { rewrite(classId, &values); }

void removeClass(std::string_view classId) { rewrite(classId, nullptr); }

std::string thisModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&thisModulePath), &info) == 0 || info.dli_fname == nullptr)
    throw std::runtime_error("cannot tell where the library was loaded from");
  std::error_code ec;
  const stdfs::path path = stdfs::canonical(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : path.string();
}

}  // namespace kiv::fs
