// The control's surface as designed, and what happens when an instance is made.
#include <control/artwork.hpp>
#include <control/upload.hpp>
#include <platform/filesystem/filesystem.hpp>

namespace kiv {
namespace {

constexpr host::OleColor kWhite = host::Rgb(255, 255, 255);
constexpr host::OleColor kStatusRed = host::Rgb(192, 0, 0);

void place(host::Control& control, const char* name, float left, float top, float width, float height) {
  control.Name = name;
  control.Left = left;
  control.Top = top;
  control.Width = width;
  control.Height = height;
}

host::CheckBox designCheckBox(const host::Frame& frame) {
  host::CheckBox box;
  place(box, "chkSelect", 0, 1680, 1575, 315);
  box.Container = &frame;
  box.Caption = "Select this photo";
  box.BackColor = kWhite;
  box.TabIndex = 5;
  box.Visible = false;
  return box;
}

host::Image designThumbnail(const host::Frame& frame) {
  host::Image image;
  place(image, "Image2", 0, 0, 1575, 1455);
  image.Container = &frame;
  image.MousePointer = host::pointer::Custom;
  return image;
}

void designLabel(host::Label& label, const char* name, float left, float top, float width, float height,
                 std::int16_t tabIndex) {
  place(label, name, left, top, width, height);
  label.TabIndex = tabIndex;
}

void designButton(host::Image& button, const char* name, float left, float width, const char* text) {
  place(button, name, left, 6960, width, 270);
  button.Picture = artwork::buttonFace(text, static_cast<int>(button.Width / host::scale::TwipsPerPixel));
  button.MousePointer = host::pointer::Custom;
  button.Visible = false;
}

}  // namespace

Upload::Upload(host::Site& site)
    : chkSelect(designCheckBox(Frame1)), Image2(designThumbnail(Frame1)), site_(site) {
  surface_.Width = 10980;
  surface_.Height = 8340;
  surface_.BackColor = kWhite;
  surface_.MouseIcon = artwork::pointingHand();
  surface_.MouseIconHotX = artwork::kPointingHandHotSpotX;
  surface_.MouseIconHotY = artwork::kPointingHandHotSpotY;

  place(VScroll1, "VScroll1", 7800, 1200, 255, 5535);
  VScroll1.TabIndex = 6;
  VScroll1.Visible = false;

  place(Frame1, "Frame1", 2880, 1200, 4935, 5535);
  Frame1.BackColor = host::SystemWindow;
  Frame1.ForeColor = host::SystemWindowText;
  Frame1.TabIndex = 4;

  designLabel(Label4, "Label4", 3000, 720, 3705, 255, 7);
  Label4.Caption = "Please click on the thumbnails to view larger photo";
  Label4.BackColor = kWhite;
  Label4.Visible = false;

  place(imgZoom, "imgZoom", 120, 1200, 1215, 495);

  designButton(imgCancel, "imgCancel", 6000, 705, "Cancel");
  designButton(imgUploadAll, "imgUploadAll", 4920, 900, "Upload All");
  designButton(imgSelectedPhotos, "imgSelectedPhotos", 2880, 1890, "Upload Selected Photos");

  designLabel(Label5, "Label5", 0, 120, 3795, 675, 3);
  Label5.ForeColor = kStatusRed;
  designLabel(Label3, "Label3", 180, 540, 2355, 195, 2);
  Label3.ForeColor = kStatusRed;
  designLabel(Label2, "Label2", 180, 540, 3795, 195, 1);
  Label2.ForeColor = kStatusRed;
  designLabel(Label1, "Label1", 180, 120, 3915, 315, 0);

  surface_.add(VScroll1);
  surface_.add(Frame1);
  surface_.add(chkSelect);
  surface_.add(Image2);
  surface_.add(Label4);
  surface_.add(imgZoom);
  surface_.add(imgCancel);
  surface_.add(imgUploadAll);
  surface_.add(imgSelectedPhotos);
  surface_.add(Label5);
  surface_.add(Label3);
  surface_.add(Label2);
  surface_.add(Label1);
}

Upload::~Upload() = default;

void Upload::Initialize() {
  oFs = std::make_shared<fs::FileSystemObject>();
  Label5.Caption =
      "Please be sure you have placed the camera on the docking station and have copied files to the computer.";
  surface_.ScaleMode(host::scale::Pixels);
  imgZoom.Height = 40;
  imgZoom.Width = 60;
}

}  // namespace kiv
