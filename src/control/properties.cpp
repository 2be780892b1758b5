// Property accessors and persistence of the Upload control.
#include <control/upload.hpp>

namespace kiv {
namespace {

using host::Variant;

constexpr std::int32_t kVehicleIdDefault = 1395348;
constexpr std::int16_t kUserIdDefault = 8515;
constexpr std::int16_t kCompanyIdDefault = 1;
constexpr const char* kAccountDefault = "vorpelk";
constexpr const char* kKivTypeDefault = "DIGITAL";
constexpr const char* kKivFtpDefault = "kivftp";
constexpr const char* kKivWebDefault = "http://kivweb";
constexpr const char* kFullPathDefault = "C:\\KIV_PHOTOS";
constexpr const char* kImageWidthDefault = "170";
constexpr const char* kImageHeightDefault = "226";

}  // namespace

std::string Upload::VehicleID() const { return std::to_string(vehicleId_); }
std::string Upload::UserID() const { return std::to_string(userId_); }
std::string Upload::CompanyID() const { return std::to_string(companyId_); }

void Upload::VehicleID(std::string_view New_VehicleID) {
  vehicleId_ = host::toInt32(host::parseNumber(New_VehicleID));
  site_.PropertyChanged("VehicleID");
}

void Upload::UserID(std::string_view New_UserID) {
  userId_ = host::toInt16(host::parseNumber(New_UserID));
  site_.PropertyChanged("UserID");
}

void Upload::CompanyID(std::string_view New_CompanyID) {
  companyId_ = host::toInt32(host::parseNumber(New_CompanyID));
  site_.PropertyChanged("CompanyID");
}

void Upload::KIVUser(std::string_view New_KIVUser) {
  kivUser_ = New_KIVUser;
  site_.PropertyChanged("KIVUser");
}

void Upload::KIVPassword(std::string_view New_KIVPassword) {
  kivPassword_ = New_KIVPassword;
  site_.PropertyChanged("KIVPassword");
}

void Upload::KIVType(std::string_view New_KIVType) {
  kivType_ = New_KIVType;
  site_.PropertyChanged("KIVType");
}

void Upload::KIVFTP(std::string_view New_KIVFTP) {
  kivFtp_ = New_KIVFTP;
  site_.PropertyChanged("KIVFTP");
}

void Upload::KIVWEB(std::string_view New_KIVWEB) {
  kivWeb_ = New_KIVWEB;
  site_.PropertyChanged("KIVWEB");
}

void Upload::VIN(std::string_view New_VIN) {
  vin_ = New_VIN;
  site_.PropertyChanged("VIN");
}

void Upload::FullPath(std::string_view New_FullPath) {
  fullPath_ = New_FullPath;
  site_.PropertyChanged("FullPath");
}

void Upload::IMAGEWIDTH(std::int16_t New_IMAGEWIDTH) {
  imageWidth_ = New_IMAGEWIDTH;
  site_.PropertyChanged("IMAGEWIDTH");
}

void Upload::IMAGEHEIGHT(std::int16_t New_IMAGEHEIGHT) {
  imageHeight_ = New_IMAGEHEIGHT;
  site_.PropertyChanged("IMAGEHEIGHT");
}

void Upload::Primary(bool New_Primary) {
  primary_ = New_Primary;
  site_.PropertyChanged("Primary");
}

void Upload::Prefered(bool New_Prefered) {
  prefered_ = New_Prefered;
  site_.PropertyChanged("Prefered");
}

void Upload::InitProperties() {
  vehicleId_ = kVehicleIdDefault;
  userId_ = kUserIdDefault;
  companyId_ = kCompanyIdDefault;
  kivUser_ = kAccountDefault;
  kivPassword_ = kAccountDefault;
  kivFtp_ = kKivFtpDefault;
  kivWeb_ = kKivWebDefault;
  vin_ = "";
  fullPath_ = kFullPathDefault;
  imageWidth_ = Variant(kImageWidthDefault).toInt16();
  imageHeight_ = Variant(kImageHeightDefault).toInt16();
  kivType_ = kKivTypeDefault;
}

// Each value is stored as soon as it is read, so a bag that fails part-way leaves
// the earlier properties restored and the later ones as they were.
void Upload::ReadProperties(host::PropertyBag& PropBag) {
  vehicleId_ = PropBag.ReadProperty("VehicleID", Variant(kVehicleIdDefault)).toInt32();
  userId_ = PropBag.ReadProperty("UserID", Variant(kUserIdDefault)).toInt16();
  companyId_ = PropBag.ReadProperty("CompanyID", Variant(kCompanyIdDefault)).toInt32();
  kivUser_ = PropBag.ReadProperty("KIVUser", Variant(kAccountDefault)).toString();
  kivPassword_ = PropBag.ReadProperty("KIVPassword", Variant(kAccountDefault)).toString();
  kivFtp_ = PropBag.ReadProperty("KIVFTP", Variant(kKivFtpDefault)).toString();
  kivWeb_ = PropBag.ReadProperty("KIVWEB", Variant(kKivWebDefault)).toString();
  vin_ = PropBag.ReadProperty("VIN", Variant("")).toString();
  fullPath_ = PropBag.ReadProperty("FullPath", Variant(kFullPathDefault)).toString();
  imageWidth_ = PropBag.ReadProperty("IMAGEWIDTH", Variant(kImageWidthDefault)).toInt16();
  imageHeight_ = PropBag.ReadProperty("IMAGEHEIGHT", Variant(kImageHeightDefault)).toInt16();
  kivType_ = PropBag.ReadProperty("KIVType", Variant(kKivTypeDefault)).toString();
}

void Upload::WriteProperties(host::PropertyBag& PropBag) {
  PropBag.WriteProperty("VehicleID", Variant(vehicleId_), Variant(kVehicleIdDefault));
  PropBag.WriteProperty("UserID", Variant(userId_), Variant(kUserIdDefault));
  PropBag.WriteProperty("CompanyID", Variant(companyId_), Variant(kCompanyIdDefault));
  PropBag.WriteProperty("KIVUser", Variant(kivUser_), Variant(kAccountDefault));
  PropBag.WriteProperty("KIVPassword", Variant(kivPassword_), Variant(kAccountDefault));
  PropBag.WriteProperty("KIVFTP", Variant(kivFtp_), Variant(kKivFtpDefault));
  PropBag.WriteProperty("KIVWEB", Variant(kivWeb_), Variant(kKivWebDefault));
  PropBag.WriteProperty("VIN", Variant(vin_), Variant(""));
  PropBag.WriteProperty("FullPath", Variant(fullPath_), Variant(kFullPathDefault));
  PropBag.WriteProperty("IMAGEHEIGHT", Variant(imageHeight_), Variant(kImageHeightDefault));
  PropBag.WriteProperty("IMAGEWIDTH", Variant(imageWidth_), Variant(kImageWidthDefault));
  PropBag.WriteProperty("KIVType", Variant(kivType_), Variant(kKivTypeDefault));
}

}  // namespace kiv
