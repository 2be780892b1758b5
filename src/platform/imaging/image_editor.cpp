#include <platform/imaging/imaging.hpp>

#include "codec.hpp"

#include <platform/host/error.hpp>

#include <string>

namespace kiv::imaging {

void ImageEditor::LoadPicture(const std::string& path) {
  const codec::Size size = codec::uprightSize(path);
  source_ = path;
  width_ = size.width;
  height_ = size.height;
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

void ImageEditor::SavePicture(const std::string& path) {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  codec::replaceFile(path, codec::renderJpeg(source_, width_, height_));
}

}  // namespace kiv::imaging
