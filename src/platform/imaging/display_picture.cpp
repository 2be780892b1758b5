#include <platform/imaging/imaging.hpp>

#include "codec.hpp"
#include "exif_thumbnail.hpp"

#include <mutex>
#include <string>
#include <utility>

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

  // Hosts stretch a picture over the whole box, so the camera's thumbnail
  // serves only where neither side of it would be enlarged.
  const host::Bitmap& bitmapFor(int deviceWidth, int deviceHeight) const override {
    const CameraThumbnail& camera = cameraThumbnail();
    if (camera.jpeg.empty() || deviceWidth > camera.width || deviceHeight > camera.height) return bitmap();
    std::call_once(thumbnailDecoded_, [this, &camera] {
      try {
        const host::Bitmap stored = codec::decodeJpegBytes(camera.jpeg);
        if (stored.width == camera.stored.width && stored.height == camera.stored.height)
          thumbnail_ = exif::uprightCrop(stored, camera.crop, camera.orientation);
      } catch (const std::exception&) {
        // A damaged thumbnail: the photo itself is shown instead.
      }
    });
    return thumbnail_.rgba.empty() ? bitmap() : thumbnail_;
  }

 private:
  // The JPEG a camera keeps in the photo's Exif block, with what is needed to
  // show it as the photo: the part without letterbox bars and the photo's
  // orientation. Empty jpeg when the photo has no usable one.
  struct CameraThumbnail {
    std::string jpeg;
    exif::Size stored;
    exif::Rect crop;
    int orientation = 1;
    int width = 0;  // upright, after the crop
    int height = 0;
  };

  const CameraThumbnail& cameraThumbnail() const {
    std::call_once(probed_, [this] {
      try {
        const std::string head = codec::headOf(path_, exif::HeadBytes);
        const exif::JpegHead found = exif::readJpegHead(head);
        if (found.thumbnail.empty()) return;
        exif::Size photo = found.photo;
        const bool turned = found.orientation >= 5;
        if (photo.width < 1 || photo.height < 1) {
          const codec::Size upright = codec::uprightSize(path_);
          photo = turned ? exif::Size{upright.height, upright.width} : exif::Size{upright.width, upright.height};
        }
        const exif::Rect crop = exif::letterboxCrop(photo, found.thumbnailSize);
        if (crop.width < 1 || crop.height < 1) return;
        camera_.jpeg.assign(found.thumbnail);
        camera_.stored = found.thumbnailSize;
        camera_.crop = crop;
        camera_.orientation = found.orientation;
        camera_.width = turned ? crop.height : crop.width;
        camera_.height = turned ? crop.width : crop.height;
      } catch (const std::exception&) {
        // Unreadable now: the full decode finds out the same and shows it empty.
      }
    });
    return camera_;
  }

  std::string path_;
  mutable std::once_flag decoded_;
  mutable host::Bitmap pixels_;
  mutable std::once_flag probed_;
  mutable CameraThumbnail camera_;
  mutable std::once_flag thumbnailDecoded_;
  mutable host::Bitmap thumbnail_;
};

}  // namespace

host::PictureRef LoadDisplayPicture(const std::string& path) {
  codec::uprightSize(path);
  return std::make_shared<DisplayPicture>(path);
}

}  // namespace kiv::imaging
