// The Upload All and Upload Selected Photos commands, express mode, and the
// control's own methods for one photo; each hands its photos to the upload
// components with the control's settings.
#include <control/upload.hpp>
#include <upload/upload_run.hpp>

namespace kiv {

// The surface and the container as an upload run sees them.
class Upload::RunSink final : public upload::RunSink {
 public:
  explicit RunSink(Upload& upload) : upload_(upload) {}

  void caption(const std::string& text) override { upload_.Label2.Caption = text; }
  void pointerReleased() override { upload_.surface_.MousePointer = host::pointer::Default; }
  void communicationError() override {
    upload_.surface_.MousePointer = host::pointer::Default;
    upload_.site_.MsgBox(
        "There has been a communication error during the transfer of the images to server. Please try again.",
        0, "TREMONA");
  }
  void photoKept(const std::string& path, const std::string& reason) override { upload_.site_.PhotoKept(path, reason); }
  void repaint() override { upload_.site_.Refresh(); }
  void photoSent(const std::string& path) override { upload_.site_.PhotoSent(path); }
  bool stopRequested() override { return upload_.site_.StopRequested(); }

 private:
  Upload& upload_;
};

upload::TransferSettings Upload::transferSettings() const {
  upload::TransferSettings settings;
  settings.vehicleId = VehicleID();
  settings.companyId = CompanyID();
  settings.web = KIVWEB();
  settings.ftp = KIVFTP();
  settings.user = KIVUser();
  settings.password = KIVPassword();
  settings.width = IMAGEWIDTH();
  settings.height = IMAGEHEIGHT();
  settings.primary = Primary();
  settings.prefered = Prefered();
  return settings;
}

bool Upload::kivFTPUpload(std::string& sFileName) {
  RunSink sink(*this);
  return upload::transferPhoto(transferSettings(), sFileName, {}, sink, strHTML).stored;
}

bool Upload::kivResizeImages(std::string& sImageFile) {
  return upload::reducePicture(sImageFile, IMAGEWIDTH(), IMAGEHEIGHT());
}

void Upload::imgUploadAll_Click() { uploadList(imgUploadAll, false); }
void Upload::imgSelectedPhotos_Click() { uploadList(imgSelectedPhotos, true); }

// Sends every listed photo, or only the ticked ones, reporting each as its
// position in the whole list. The command's pointer shows the hourglass while it
// runs and the arrow afterwards, also when an error ends it.
void Upload::uploadList(host::Image& command, bool onlyTicked) {
  command.MousePointer = host::pointer::Hourglass;
  try {
    if (sFiles.array().at(0).empty()) {
      command.MousePointer = host::pointer::Arrow;
      return;
    }
    const host::Variant::Array files = sFiles.array();
    const auto count = static_cast<std::int32_t>(files.size());
    std::vector<upload::RunPhoto> photos;
    for (std::int32_t i = 0; i < count; ++i) {
      // A repeated showing may leave check boxes beyond the list; they stand for no photo.
      const auto index = static_cast<std::int16_t>(i);
      if (onlyTicked && (i >= chkSelect.Count() || chkSelect[index].Value != 1)) continue;
      photos.push_back({files[static_cast<std::size_t>(i)], i + 1});
    }
    RunSink sink(*this);
    const std::int32_t sent = upload::runUpload(transferSettings(), fileSystem(), {uploadFolder(), oFolders.get()},
                                                photos, count, sink, strHTML);
    // The subfolder a removal pass looked at last, as the scan's members tell.
    if (sent > 0 && oFolders && oFolders->Count() > 0) {
      oSubFolder = std::make_shared<fs::Folder>((*oFolders)[oFolders->Count() - 1]);
    }
    site_.Refresh();
  } catch (...) {
    command.MousePointer = host::pointer::Arrow;
    throw;
  }
  command.MousePointer = host::pointer::Arrow;
  site_.RaiseEvent("CloseApp");
}

void Upload::uploadExpress(const host::Variant::Array& files) {
  const auto count = static_cast<std::int32_t>(files.size());
  std::vector<upload::RunPhoto> photos;
  for (std::int32_t i = 0; i < count; ++i) photos.push_back({files[static_cast<std::size_t>(i)], i + 1});
  RunSink sink(*this);
  upload::runUpload(transferSettings(), fileSystem(), {uploadFolder(), nullptr}, photos, count, sink, strHTML);
  Label2.Caption = "";
  Label3.Caption = "Completed.";
  site_.Refresh();
  site_.RaiseEvent("CloseApp");
}

// The folder the listed photos came from.
std::string Upload::uploadFolder() const { return scannedPath_.empty() ? FullPath() : scannedPath_; }

}  // namespace kiv
