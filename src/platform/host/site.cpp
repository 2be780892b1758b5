#include <platform/host/site.hpp>

namespace kiv::host {

Site::~Site() = default;

PictureRef Site::LoadPicture(const std::string& path, PictureDecoder decode) { return decode(path); }

bool Site::StopRequested() { return false; }

void Site::PhotoKept(const std::string&, std::string_view) {}

void Site::PhotoSent(const std::string&) {}

}  // namespace kiv::host
