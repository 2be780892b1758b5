#include <platform/imaging/imaging.hpp>

#include "wic_support.hpp"

#include <platform/host/error.hpp>

#include <string>

namespace kiv::imaging {

namespace {

constexpr float JpegQuality = 0.90f;
// The largest side a JPEG can have.
constexpr std::int32_t MaxSide = 65500;

}  // namespace

void ImageEditor::LoadPicture(const std::string& path) {
  detail::ComApartment com;
  const detail::PictureFile file(path, detail::createFactory());
  source_ = path;
  width_ = file.header().width;
  height_ = file.header().height;
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
  if (width < 1 || height < 1 || width > MaxSide || height > MaxSide)
    throw Error(errc::InvalidProcedureCall, "Invalid picture size " + std::to_string(width) + " x " +
                                                std::to_string(height));
  width_ = width;
  height_ = height;
}

void ImageEditor::SavePicture(const std::string& path) {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  std::string jpeg;
  {
    detail::ComApartment com;
    const detail::PictureFile file(source_, detail::createFactory());
    // A photo cut short fails here rather than being saved with its missing
    // part filled in.
    const detail::Pixels pixels = file.render(width_, height_, GUID_WICPixelFormat24bppBGR, true);
    jpeg = file.encodeJpeg(pixels, JpegQuality);
  }
  detail::replaceFileAtomically(path, jpeg);
}

}  // namespace kiv::imaging
