#pragma once

#include <platform/export.hpp>
#include <platform/host/picture.hpp>

#include <cstdint>
#include <string>

namespace kiv::fs {
class PhotoFile;
}

namespace kiv::imaging {

// The image editor behind a photo reduction, one per call. Loading reads only the
// picture's header; a resize records the target size; saving renders the picture
// once, straight from the loaded file at the final size, and writes it as JPEG.
// Sizes are those of the upright picture: a photo whose orientation tag says it
// is turned reports (and is saved with) its upright width and height.
//
// Failures throw kiv::Error: 53 missing file, 70 unreadable file, 75 another read
// error, 481 a file that holds no JPEG or bitmap picture, 5 a call out of order
// or a size below 1, and the file-system numbers (61, 70, 75, 76) for a save
// that could not be written. System errors are numbered by
// kiv::systemErrorNumber (platform/host/error.hpp).
class KIV_EXPORT ImageEditor {
 public:
  // Recognises JPEG and bitmap pictures by their content, whatever the name.
  void LoadPicture(const std::string& path);
  // The same from a photo open for sending: every read goes through its
  // descriptor, which must stay open until the last render.
  void LoadPicture(const fs::PhotoFile& photo);
  std::int32_t PictureWidth() const;
  std::int32_t PictureHeight() const;
  // Scales to exactly this size when saved; proportions are the caller's business.
  void ResizePicture(std::int32_t width, std::int32_t height);
  // Writes a JPEG at the current size, upright, with the orientation tag set to
  // 1 and the other metadata kept, at the quality of the loaded JPEG (90 at
  // most, and 90 for a bitmap); a picture kept at its own size is not made a
  // larger file than it was. Replaces the file atomically: a failed save leaves
  // whatever was at the path untouched.
  void SavePicture(const std::string& path);
  // What SavePicture writes, as bytes.
  std::string RenderPicture() const;

 private:
  std::string source_;
  std::intptr_t sourceDescriptor_ = -1;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t loadedWidth_ = 0;
  std::int32_t loadedHeight_ = 0;
  bool loaded_ = false;
};

// True when the photo starts as a JPEG but does not end with the JPEG end
// marker: cut short, or still being written.
KIV_EXPORT bool EndsBeforeJpegEnd(const fs::PhotoFile& photo);

// A picture for display (thumbnail and enlarged view). The file's header is
// checked at once (53 missing, 70 unreadable, 481 no picture); pixels are decoded
// on the first bitmap() call, upright, reduced while decoding to fit
// DisplayBox x DisplayBox, as 8-bit RGBA. bitmap() is safe from several threads
// and decodes once; a file that became unreadable meanwhile gives an empty bitmap.
// bitmapFor(w, h) answers from the small JPEG a camera stores in the photo's
// Exif block, without its letterbox bars and turned upright, when a box of
// w x h device pixels is no wider and no taller than that; otherwise, or when
// the photo has no usable one, it is bitmap(). Each is decoded at most once.
inline constexpr int DisplayBox = 360;
KIV_EXPORT host::PictureRef LoadDisplayPicture(const std::string& path);

}  // namespace kiv::imaging
