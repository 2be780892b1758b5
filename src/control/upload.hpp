#pragma once

#include <platform/export.hpp>
#include <platform/host/error.hpp>
#include <platform/host/property_bag.hpp>
#include <platform/host/site.hpp>
#include <platform/host/surface.hpp>
#include <platform/host/variant.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kiv {

namespace upload {
struct TransferSettings;
}  // namespace upload

namespace fs {
class FileSystemObject;
class Folder;
class Folders;
class File;
}  // namespace fs

// The photo-upload control. A host creates it on its Site, delivers Initialize,
// then InitProperties or ReadProperties, then Show; the user's clicks arrive as
// the child-control event handlers below. Everything runs on the host's
// user-interface thread, one event at a time. Errors travel to the caller as
// kiv::Error; the two upload methods report their outcome as a Boolean.
class KIV_EXPORT Upload {
 public:
  explicit Upload(host::Site& site);
  ~Upload();
  Upload(const Upload&) = delete;
  Upload& operator=(const Upload&) = delete;

  // Container events.
  void Initialize();
  void InitProperties();
  void ReadProperties(host::PropertyBag& PropBag);
  void WriteProperties(host::PropertyBag& PropBag);
  void Show();

  // Child-control events.
  void imgCancel_Click();
  void imgUploadAll_Click();
  void imgSelectedPhotos_Click();
  void Image2_Click(std::int16_t Index);
  void VScroll1_Change();
  void VScroll1_Scroll();

  // Methods.
  void kivGetFiles();
  bool kivFTPUpload(std::string& sFileName);
  bool kivResizeImages(std::string& sImageFile);

  // Properties. Numbers shown as text convert with the classic rules (error 13
  // for text that is no number, 6 when out of range) and keep the old value on
  // failure; every setter notifies the container with the property's name.
  std::string VehicleID() const;
  void VehicleID(std::string_view New_VehicleID);
  std::string UserID() const;
  void UserID(std::string_view New_UserID);
  std::string CompanyID() const;
  void CompanyID(std::string_view New_CompanyID);
  std::string KIVUser() const { return kivUser_; }
  void KIVUser(std::string_view New_KIVUser);
  std::string KIVPassword() const { return kivPassword_; }
  void KIVPassword(std::string_view New_KIVPassword);
  std::string KIVType() const { return kivType_; }
  void KIVType(std::string_view New_KIVType);
  std::string KIVFTP() const { return kivFtp_; }
  void KIVFTP(std::string_view New_KIVFTP);
  std::string KIVWEB() const { return kivWeb_; }
  void KIVWEB(std::string_view New_KIVWEB);
  std::string VIN() const { return vin_; }
  void VIN(std::string_view New_VIN);
  std::string FullPath() const { return fullPath_; }
  void FullPath(std::string_view New_FullPath);
  std::int16_t IMAGEWIDTH() const { return imageWidth_; }
  void IMAGEWIDTH(std::int16_t New_IMAGEWIDTH);
  std::int16_t IMAGEHEIGHT() const { return imageHeight_; }
  void IMAGEHEIGHT(std::int16_t New_IMAGEHEIGHT);
  bool Primary() const { return primary_; }
  void Primary(bool New_Primary);
  bool Prefered() const { return prefered_; }
  void Prefered(bool New_Prefered);

  // Exposed member variables.
  host::Variant arrString;
  std::shared_ptr<fs::FileSystemObject> oFs;
  std::string strHTML;
  std::shared_ptr<fs::Folder> oFolder;
  std::shared_ptr<fs::Folders> oFolders;
  std::shared_ptr<fs::Folder> oSubFolder;
  std::shared_ptr<fs::File> oFile;
  host::Variant sFiles;

  // The surface: child controls in stored order.
  host::VScrollBar VScroll1;
  host::Frame Frame1;
  host::ControlArray<host::CheckBox> chkSelect;
  host::ControlArray<host::Image> Image2;
  host::Label Label4;
  host::Image imgZoom;
  host::Image imgCancel;
  host::Image imgUploadAll;
  host::Image imgSelectedPhotos;
  host::Label Label5;
  host::Label Label3;
  host::Label Label2;
  host::Label Label1;

  const host::Surface& surface() const { return surface_; }
  host::Surface& surface() { return surface_; }

 private:
  host::Variant::Array ListPhotoFiles(std::string sPath);
  void buildGallery(const host::Variant::Array& files);
  void hideElementsFrom(std::int32_t first);
  void uploadExpress(const host::Variant::Array& files);
  host::PictureRef thumbnailPicture(const std::string& path);
  class RunSink;
  upload::TransferSettings transferSettings() const;
  std::string uploadFolder() const;
  void uploadList(host::Image& command, bool onlyTicked);
  void placeFromHome();
  fs::FileSystemObject& fileSystem();
  std::int32_t listUBound() const;

  // The gallery frame's height in twips: thumbnails below it need the scroll bar.
  static constexpr float kGalleryFrameHeight = 5535;

  host::Site& site_;
  host::Surface surface_;

  std::int32_t vehicleId_ = 0;
  std::int16_t userId_ = 0;
  std::int32_t companyId_ = 0;
  std::string kivUser_;
  std::string kivPassword_;
  std::string kivType_;
  bool primary_ = false;
  bool prefered_ = false;
  std::string kivFtp_;
  std::string kivWeb_;
  std::string vin_;
  std::string fullPath_;
  std::int16_t imageHeight_ = 0;
  std::int16_t imageWidth_ = 0;
  std::string scannedPath_;  // the folder the last scan read, for removing emptied subfolders
};

}  // namespace kiv
