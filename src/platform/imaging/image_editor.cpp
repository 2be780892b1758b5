#include <platform/imaging/imaging.hpp>

#include "codec.hpp"
#include "jpeg_quality.hpp"

#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>

#include <algorithm>
#include <string>

namespace kiv::imaging {

void ImageEditor::LoadPicture(const std::string& path) {
  const codec::Size size = codec::uprightSize(path);
  source_ = path;
  sourceDescriptor_ = -1;
  width_ = loadedWidth_ = size.width;
  height_ = loadedHeight_ = size.height;
  loaded_ = true;
}

void ImageEditor::LoadPicture(const fs::PhotoFile& photo) {
  const codec::Size size = codec::uprightSize({photo.path(), photo.descriptor()});
  source_ = photo.path();
  sourceDescriptor_ = photo.descriptor();
  width_ = loadedWidth_ = size.width;
  height_ = loadedHeight_ = size.height;
  loaded_ = true;
}

std::int32_t ImageEditor::PictureWidth() const {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  return width_;
}

std::int32_t ImageEditor::PictureHeight() const {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  return height_;
}

void ImageEditor::ResizePicture(std::int32_t width, std::int32_t height) {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  if (width < 1 || height < 1 || width > codec::LargestSide || height > codec::LargestSide)
    throw Error(errc::InvalidProcedureCall, "Invalid picture size " + std::to_string(width) + " x " +
                                                std::to_string(height));
  width_ = width;
  height_ = height;
}

void ImageEditor::SavePicture(const std::string& path) { codec::replaceFile(path, RenderPicture()); }

std::string ImageEditor::RenderPicture() const {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  const codec::Source from(source_, sourceDescriptor_);
  const codec::Encoding source = codec::encodingOf(from);
  int quality = outputJpegQuality(source.jpegQuality);
  std::string jpeg = codec::renderJpeg(from, width_, height_, quality);
  // A photo that needed no reduction goes on no larger than it came: a
  // dealer's link carries every byte. Coarser steps until it fits, within reason.
  constexpr int kQualityStep = 10, kLowestQuality = 50;
  const bool reduced = width_ != loadedWidth_ || height_ != loadedHeight_;
  while (!reduced && jpeg.size() > source.bytes && quality > kLowestQuality) {
    quality = std::max(quality - kQualityStep, kLowestQuality);
    jpeg = codec::renderJpeg(from, width_, height_, quality);
  }
  return jpeg;
}

bool EndsBeforeJpegEnd(const fs::PhotoFile& photo) {
  const std::string head = photo.read(0, 3);
  if (head != std::string_view("\xFF\xD8\xFF", 3)) return false;
  const std::uint64_t size = static_cast<std::uint64_t>(photo.opened().size);
  return size < 5 || photo.read(size - 2, 2) != std::string_view("\xFF\xD9", 2);
}

}  // namespace kiv::imaging
