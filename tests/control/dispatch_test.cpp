#include <control/dispatch.hpp>
#include <control/upload.hpp>

#include "support/recording_site.hpp"

#include <gtest/gtest.h>

namespace kiv::dispatch {
namespace {

using host::Variant;

struct Fixture {
  test::RecordingSite site;
  Upload upload{site};
  std::vector<Variant> args;
  Variant result;
  Fixture() {
    upload.Initialize();
    upload.InitProperties();
  }
  std::uint32_t call(std::string_view name, Kind kind, std::vector<Variant> a = {}) {
    args = std::move(a);
    return invoke(upload, name, kind, args, result);
  }
};

TEST(DispatchTest, TableListsTheTwentyFiveMembersInInterfaceOrder) {
  const std::vector<std::string_view> expected{
      "arrString", "oFs", "strHTML", "oFolder", "oFolders", "oSubFolder", "oFile", "sFiles",
      "kivGetFiles", "kivFTPUpload", "kivResizeImages", "IMAGEHEIGHT", "IMAGEWIDTH", "VehicleID",
      "UserID", "CompanyID", "KIVUser", "KIVPassword", "KIVType", "KIVFTP", "KIVWEB", "VIN",
      "FullPath", "Primary", "Prefered"};
  ASSERT_EQ(members().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(members()[i].name, expected[i]);
    EXPECT_EQ(members()[i].id, static_cast<DispId>(i + 1));
    EXPECT_EQ(find(members()[i].id), &members()[i]);
  }
  EXPECT_TRUE(find("oFs")->supports(Kind::Set));
  EXPECT_FALSE(find("oFs")->supports(Kind::Let));
  EXPECT_TRUE(find("kivFTPUpload")->byReference);
  EXPECT_EQ(persistedPropertyNames().size(), 12u);
}

TEST(DispatchTest, NamesMatchWithoutRegardToCase) {
  Fixture f;
  EXPECT_EQ(find("vehicleid"), find("VehicleID"));
  EXPECT_EQ(find("KIVFTPUPLOAD")->id, typelib::dispid::kivFTPUpload);
  EXPECT_EQ(find("VehicleIDs"), nullptr);
  EXPECT_EQ(f.call("imagewidth", Kind::Let, {Variant("300")}), kOk);
  EXPECT_EQ(f.upload.IMAGEWIDTH(), 300);
  EXPECT_EQ(f.call("IMAGEwidth", Kind::Get), kOk);
  EXPECT_EQ(f.result, Variant(std::int16_t{300}));
  EXPECT_EQ(f.site.changed, std::vector<std::string>{"IMAGEWIDTH"});
}

TEST(DispatchTest, CallFaultsAnswerDistinctStatusesAndChangeNothing) {
  Fixture f;
  EXPECT_EQ(f.call("NoSuchThing", Kind::Get), kUnknownMember);
  std::vector<Variant> none;
  EXPECT_EQ(invoke(f.upload, DispId{99}, Kind::Get, none, f.result), kUnknownMember);
  EXPECT_EQ(f.call("VehicleID", Kind::Let, {}), kWrongArgumentCount);
  EXPECT_EQ(f.call("VehicleID", Kind::Get, {Variant("1")}), kWrongArgumentCount);
  EXPECT_EQ(f.call("kivFTPUpload", Kind::Method, {}), kWrongArgumentCount);
  EXPECT_EQ(f.call("kivGetFiles", Kind::Get), kWrongKind);
  EXPECT_EQ(f.call("VehicleID", Kind::Method), kWrongKind);
  EXPECT_EQ(f.call("oFs", Kind::Let, {Variant("x")}), kWrongKind);
  EXPECT_EQ(f.call("oFs", Kind::Set, {Variant("x")}), kTypeMismatch);
  EXPECT_NE(f.upload.oFs, nullptr);
  EXPECT_EQ(f.upload.VehicleID(), "1395348");
  EXPECT_TRUE(f.site.changed.empty());
}

TEST(DispatchTest, ControlErrorsBecomeClassicStatusesAndKeepTheOldValue) {
  Fixture f;
  EXPECT_EQ(f.call("VehicleID", Kind::Let, {Variant("abc")}), 0x800A000Du);
  EXPECT_EQ(f.call("UserID", Kind::Let, {Variant("40000")}), 0x800A0006u);
  EXPECT_EQ(lastErrorMessage(), "UserID: Overflow: 40000 is out of range");
  EXPECT_EQ(f.call("IMAGEHEIGHT", Kind::Let, {Variant(Variant::Array{"a"})}), 0x800A000Du);
  EXPECT_EQ(f.upload.VehicleID(), "1395348");
  EXPECT_EQ(f.upload.UserID(), "8515");
  EXPECT_TRUE(f.site.changed.empty());
}

TEST(DispatchTest, ExposedVariablesTravelAsVariantsAndObjectsOnlyAsNothing) {
  Fixture f;
  Variant::Array list{"/p/a.jpg", "/p/b.jpg"};
  EXPECT_EQ(f.call("sFiles", Kind::Let, {Variant(list)}), kOk);
  EXPECT_EQ(f.call("sFiles", Kind::Get), kOk);
  EXPECT_EQ(f.result, Variant(list));
  EXPECT_EQ(f.call("arrString", Kind::Let, {Variant(std::int32_t{7})}), kOk);
  EXPECT_EQ(f.upload.arrString, Variant(std::int32_t{7}));
  EXPECT_EQ(f.call("oFs", Kind::Get), kOk);
  EXPECT_EQ(f.result, Variant("FileSystemObject"));
  EXPECT_EQ(f.call("oFs", Kind::Set, {Variant()}), kOk);
  EXPECT_EQ(f.upload.oFs, nullptr);
  EXPECT_EQ(f.call("oFs", Kind::Get), kOk);
  EXPECT_TRUE(f.result.isEmpty());
}

TEST(DispatchTest, ByReferenceFileNameIsWrittenBackAndTheOutcomeIsBoolean) {
  Fixture f;
  EXPECT_EQ(f.call("kivResizeImages", Kind::Method, {Variant(std::int32_t{12})}), kOk);
  EXPECT_EQ(f.result, Variant(false));  // "12" is no picture
  EXPECT_EQ(f.args[0], Variant("12"));  // converted to text by reference
}

TEST(DispatchTest, LetPropertyNamesThePropertyInItsErrors) {
  Fixture f;
  letProperty(f.upload, "companyid", Variant("77"));
  EXPECT_EQ(f.upload.CompanyID(), "77");
  EXPECT_EQ(getProperty(f.upload, "CompanyID"), Variant("77"));
  try {
    letProperty(f.upload, "UserID", Variant("40000"));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::Overflow);
    EXPECT_STREQ(e.what(), "UserID: Overflow: 40000 is out of range");
  }
  try {
    letProperty(f.upload, "oFs", Variant());
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 438);
    EXPECT_NE(std::string(e.what()).find("oFs"), std::string::npos);
  }
  EXPECT_THROW(letProperty(f.upload, "Nope", Variant("1")), Error);
  EXPECT_EQ(f.upload.UserID(), "8515");
}

}  // namespace
}  // namespace kiv::dispatch
