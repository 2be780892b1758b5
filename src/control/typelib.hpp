#pragma once

// Identity of the component library: what registration records and what outside
// callers use to find the class and address its members. These values are part
// of the binary contract; never change one once released.

#include <cstdint>
#include <string_view>

namespace kiv::typelib {

inline constexpr std::string_view kName = "KIVPhotoUpload";
inline constexpr std::string_view kHelpString = "KIVPhotoUpload";
inline constexpr std::string_view kFileName = "kivPhotoUpload";
inline constexpr std::uint16_t kVersionMajor = 1;
inline constexpr std::uint16_t kVersionMinor = 0;
inline constexpr std::string_view kVersion = "1.0";
inline constexpr std::uint32_t kLocale = 0x0409;
inline constexpr std::string_view kLocaleText = "0x0409";
inline constexpr std::string_view kFileVersion = "2.02.0001";

inline constexpr std::string_view kLibraryId = "{12863A77-9556-410A-B88A-FBAF749D0EE2}";
inline constexpr std::string_view kClassId = "{57C119E6-3EBF-4ACE-A8E0-0C30DC11F058}";
inline constexpr std::string_view kInterfaceId = "{239AAE8D-F3A2-4303-9AC1-EE84CC2F7227}";       // _Upload
inline constexpr std::string_view kEventInterfaceId = "{29A2DE10-2331-45AD-A75A-1D2BDCBAE088}";  // __Upload
inline constexpr std::string_view kClassName = "Upload";
inline constexpr std::string_view kProgId = "KIVPhotoUpload.Upload";

// Dispatch identifiers of _Upload, in interface order.
namespace dispid {
inline constexpr std::int32_t arrString = 1;
inline constexpr std::int32_t oFs = 2;
inline constexpr std::int32_t strHTML = 3;
inline constexpr std::int32_t oFolder = 4;
inline constexpr std::int32_t oFolders = 5;
inline constexpr std::int32_t oSubFolder = 6;
inline constexpr std::int32_t oFile = 7;
inline constexpr std::int32_t sFiles = 8;
inline constexpr std::int32_t kivGetFiles = 9;
inline constexpr std::int32_t kivFTPUpload = 10;
inline constexpr std::int32_t kivResizeImages = 11;
inline constexpr std::int32_t IMAGEHEIGHT = 12;
inline constexpr std::int32_t IMAGEWIDTH = 13;
inline constexpr std::int32_t VehicleID = 14;
inline constexpr std::int32_t UserID = 15;
inline constexpr std::int32_t CompanyID = 16;
inline constexpr std::int32_t KIVUser = 17;
inline constexpr std::int32_t KIVPassword = 18;
inline constexpr std::int32_t KIVType = 19;
inline constexpr std::int32_t KIVFTP = 20;
inline constexpr std::int32_t KIVWEB = 21;
inline constexpr std::int32_t VIN = 22;
inline constexpr std::int32_t FullPath = 23;
inline constexpr std::int32_t Primary = 24;
inline constexpr std::int32_t Prefered = 25;

// The only member of the event interface __Upload.
inline constexpr std::int32_t CloseApp = 1;
}  // namespace dispid

}  // namespace kiv::typelib
