#include <platform/host/site.hpp>

namespace kiv::host {

Site::~Site() = default;

PictureRef Site::LoadPicture(const std::string&) { return nullptr; }

}  // namespace kiv::host
