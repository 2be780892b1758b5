#include <platform/host/site.hpp>

#include <platform/imaging/imaging.hpp>

namespace kiv::host {

Site::~Site() = default;

PictureRef Site::LoadPicture(const std::string& path) { return imaging::LoadDisplayPicture(path); }

bool Site::StopRequested() { return false; }

}  // namespace kiv::host
