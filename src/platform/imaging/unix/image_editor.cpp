#include <platform/imaging/imaging.hpp>

#include "vips_support.hpp"

#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>

#include <string>

namespace kiv::imaging {

namespace {

constexpr int JpegQuality = 90;

}  // namespace

void ImageEditor::LoadPicture(const std::string& path) {
  const detail::Header header = detail::PictureFile(path).header();
  source_ = path;
  width_ = header.width;
  height_ = header.height;
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
  if (width < 1 || height < 1 || width > VIPS_MAX_COORD || height > VIPS_MAX_COORD)
    throw Error(errc::InvalidProcedureCall, "Invalid picture size " + std::to_string(width) + " x " +
                                                std::to_string(height));
  width_ = width;
  height_ = height;
}

void ImageEditor::SavePicture(const std::string& path) {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");

  const detail::Bytes jpeg = detail::vipsCall(errc::InvalidPicture, "Cannot render " + source_, [&] {
    using vips::VImage;
    // Rendering from the file lets the JPEG decoder shrink while decoding; the
    // rest of the way is one high-quality resample to the exact size. A photo cut
    // short fails here rather than being saved with its missing part filled in.
    VImage picture = detail::PictureFile(source_)
                         .thumbnail(width_,
                                    [&] {
                                      return VImage::option()
                                          ->set("height", height_)
                                          ->set("size", VIPS_SIZE_FORCE)
                                          // Read from a source, the loader takes it only this way.
                                          ->set("option_string", "fail_on=truncated");
                                    })
                         .copy();
    picture.set(VIPS_META_ORIENTATION, 1);
    return detail::jpegOf(picture, JpegQuality);
  });
  fs::ReplaceFileAtomically(path, jpeg.view());
}

}  // namespace kiv::imaging
