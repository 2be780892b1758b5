// Reducing a picture file in place to fit IMAGEWIDTH x IMAGEHEIGHT.
#include <control/upload.hpp>
#include <platform/imaging/imaging.hpp>

namespace kiv {

// Width first, then height, each against what the step before left; a picture
// is never enlarged, and it is written back even when it already fits.
bool Upload::kivResizeImages(std::string& sImageFile) {
  try {
    imaging::ImageEditor editor;
    editor.LoadPicture(sImageFile);
    std::int16_t height = host::toInt16(editor.PictureHeight());
    std::int16_t width = host::toInt16(editor.PictureWidth());
    if (width > IMAGEWIDTH()) {
      const std::int16_t newHeight = host::toInt16(static_cast<double>(IMAGEWIDTH()) / width * height);
      editor.ResizePicture(IMAGEWIDTH(), newHeight);
      height = host::toInt16(editor.PictureHeight());
      width = host::toInt16(editor.PictureWidth());
    }
    if (height > IMAGEHEIGHT()) {
      const std::int16_t newWidth = host::toInt16(static_cast<double>(IMAGEHEIGHT()) / height * width);
      editor.ResizePicture(newWidth, IMAGEHEIGHT());
    }
    editor.SavePicture(sImageFile);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kiv
