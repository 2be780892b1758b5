#include <upload/working_copy.hpp>

#include <platform/host/error.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace kiv::upload {
namespace {

int errorNumberFor(const std::error_code& error) {
  if (error == std::errc::no_such_file_or_directory) return errc::FileNotFound;
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
    return errc::PermissionDenied;
  }
  if (error == std::errc::no_space_on_device) return errc::DiskFull;
  return errc::PathFileAccessError;
}

}  // namespace

WorkingCopy::WorkingCopy(const std::filesystem::path& original) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kivphoto-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    const std::error_code error(errno, std::generic_category());
    throw Error(errorNumberFor(error), "Cannot make a working folder for " + original.string() + ": " + error.message());
  }
  folder_ = pattern;
  path_ = folder_ / original.filename();
  std::error_code error;
  if (!std::filesystem::is_regular_file(original, error) ||
      !std::filesystem::copy_file(original, path_, error)) {
    if (!error) error = std::make_error_code(std::errc::no_such_file_or_directory);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw Error(errorNumberFor(error), "Cannot copy " + original.string() + ": " + error.message());
  }
}

WorkingCopy::~WorkingCopy() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace kiv::upload
