// What is sent of a photo, made from it through its one open file; the same
// on every system, over the parts each system supplies.
#include <platform/filesystem/filesystem.hpp>

#include "system_parts.hpp"

#include <platform/host/error.hpp>

namespace kiv::fs {

using namespace detail;

namespace {

[[noreturn]] void failChangedWhileRead(const std::string& path) {
  fail(errc::PathFileAccessError, path, "the file changed while it was read; it is left for the next upload");
}

}  // namespace

void PhotoFile::checkUnchanged() const {
  if (!(stampOfOpen(descriptor_, path_) == opened_)) failChangedWhileRead(path_);
}

WorkingCopy::WorkingCopy(const PhotoFile& photo, std::string_view content) {
  photo.checkUnchanged();
  original_ = photo.opened();
  makeFolder(lastComponent(photo.path()));
  try {
    writeNewFile(path_, content);
  } catch (...) {
    discard();
    throw;
  }
}

WorkingCopy::WorkingCopy(const PhotoFile& photo) {
  original_ = photo.opened();
  makeFolder(lastComponent(photo.path()));
  try {
    const std::int64_t copied = copyWhole(photo.descriptor(), photo.path(), path_);
    photo.checkUnchanged();
    if (copied != original_.size) failChangedWhileRead(photo.path());
  } catch (...) {
    discard();
    throw;
  }
}

WorkingCopy::WorkingCopy(const std::string& original, const std::string& photoFolder)
    : WorkingCopy(PhotoFile(original, photoFolder)) {}

WorkingCopy::~WorkingCopy() { discard(); }

}  // namespace kiv::fs
