#include <platform/imaging/imaging.hpp>

#include "codec.hpp"

#include <mutex>
#include <string>

namespace kiv::imaging {

namespace {

class DisplayPicture final : public host::Picture {
 public:
  explicit DisplayPicture(std::string path) : path_(std::move(path)) {}

  const host::Bitmap& bitmap() const override {
    std::call_once(decoded_, [this] {
      try {
        pixels_ = codec::decodeToFit(path_, DisplayBox);
      } catch (const std::exception&) {
        // Damaged past its header, or gone since: shown as an empty picture.
        pixels_ = host::Bitmap{};
      }
    });
    return pixels_;
  }

 private:
  std::string path_;
  mutable std::once_flag decoded_;
  mutable host::Bitmap pixels_;
};

}  // namespace

host::PictureRef LoadDisplayPicture(const std::string& path) {
  codec::uprightSize(path);
  return std::make_shared<DisplayPicture>(path);
}

}  // namespace kiv::imaging
