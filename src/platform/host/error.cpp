#include <platform/host/error.hpp>

namespace kiv {

Error::Error(int number, const std::string& message)
    : std::runtime_error(message), number_(number) {}

}  // namespace kiv
