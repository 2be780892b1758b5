#include <platform/host/error.hpp>

#include <cerrno>

namespace kiv {

Error::Error(int number, const std::string& message)
    : std::runtime_error(message), number_(number) {}

int systemErrorNumber(int errnoValue, PathKind kind) {
  switch (errnoValue) {
    case ENOENT:
    case ENOTDIR:
      return kind == PathKind::File ? errc::FileNotFound : errc::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTEMPTY:
      return errc::PermissionDenied;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
      return errc::DiskFull;
    default:
      return errc::PathFileAccessError;
  }
}

}  // namespace kiv
