#include <control/upload.hpp>

#include "support/recording_site.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using host::MemoryPropertyBag;
using host::Variant;

struct Fixture {
  test::RecordingSite site;
  Upload upload{site};
  Fixture() {
    upload.Initialize();
    upload.InitProperties();
  }
};

void expectInitialValues(const Upload& upload) {
  EXPECT_EQ(upload.VehicleID(), "1395348");
  EXPECT_EQ(upload.UserID(), "8515");
  EXPECT_EQ(upload.CompanyID(), "1");
  EXPECT_EQ(upload.KIVUser(), "vorpelk");
  EXPECT_EQ(upload.KIVPassword(), "vorpelk");
  EXPECT_EQ(upload.KIVType(), "DIGITAL");
  EXPECT_EQ(upload.KIVFTP(), "kivftp");
  EXPECT_EQ(upload.KIVWEB(), "http://kivweb");
  EXPECT_EQ(upload.VIN(), "");
  EXPECT_EQ(upload.FullPath(), "C:\\KIV_PHOTOS");
  EXPECT_EQ(upload.IMAGEWIDTH(), 170);
  EXPECT_EQ(upload.IMAGEHEIGHT(), 226);
  EXPECT_FALSE(upload.Primary());
  EXPECT_FALSE(upload.Prefered());
}

TEST(PropertiesTest, NewInstanceHasInitialValuesAndNotifiesNothing) {
  Fixture f;
  expectInitialValues(f.upload);
  EXPECT_TRUE(f.site.changed.empty());
}

TEST(PropertiesTest, SettersStoreAndNotifyWithThePropertyName) {
  Fixture f;
  f.upload.IMAGEHEIGHT(300);
  EXPECT_EQ(f.upload.IMAGEHEIGHT(), 300);
  EXPECT_EQ(f.upload.IMAGEWIDTH(), 170);
  f.upload.VehicleID(" -42 ");
  EXPECT_EQ(f.upload.VehicleID(), "-42");
  f.upload.CompanyID("2.5");  // rounds half to even
  EXPECT_EQ(f.upload.CompanyID(), "2");
  f.upload.UserID("1e3");
  EXPECT_EQ(f.upload.UserID(), "1000");
  f.upload.Primary(true);
  f.upload.Prefered(true);
  f.upload.KIVType("expressphotos");
  EXPECT_EQ(f.upload.KIVType(), "expressphotos");
  EXPECT_EQ(f.site.changed, (std::vector<std::string>{"IMAGEHEIGHT", "VehicleID", "CompanyID", "UserID", "Primary",
                                                       "Prefered", "KIVType"}));
}

TEST(PropertiesTest, BadNumbersFailWithTheirErrorKeepTheValueAndNotifyNothing) {
  Fixture f;
  auto expectError = [&](auto set, int number) {
    try {
      set();
      ADD_FAILURE() << "no error raised";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), number) << error.what();
    }
  };
  expectError([&] { f.upload.UserID("32768"); }, errc::Overflow);
  expectError([&] { f.upload.UserID("-32769"); }, errc::Overflow);
  expectError([&] { f.upload.VehicleID("2147483648"); }, errc::Overflow);
  expectError([&] { f.upload.VehicleID("abc"); }, errc::TypeMismatch);
  expectError([&] { f.upload.CompanyID(""); }, errc::TypeMismatch);
  expectError([&] { f.upload.CompanyID("12abc"); }, errc::TypeMismatch);
  expectError([&] { f.upload.CompanyID("1e999"); }, errc::Overflow);
  EXPECT_EQ(f.upload.UserID(), "8515");
  EXPECT_EQ(f.upload.VehicleID(), "1395348");
  EXPECT_EQ(f.upload.CompanyID(), "1");
  EXPECT_TRUE(f.site.changed.empty());
  f.upload.UserID("-32768");
  EXPECT_EQ(f.upload.UserID(), "-32768");
}

TEST(PropertiesTest, RestoringFromAnEmptyBagEqualsANewInstance) {
  test::RecordingSite site;
  Upload upload(site);
  upload.Initialize();
  MemoryPropertyBag empty;
  upload.ReadProperties(empty);
  expectInitialValues(upload);
  EXPECT_TRUE(site.changed.empty());
}

TEST(PropertiesTest, SaveWritesTwelveKeysInOrderAndRestoresThem) {
  Fixture f;
  f.upload.VehicleID("77");
  f.upload.UserID("-5");
  f.upload.CompanyID("100000");  // wider than the 16-bit default it is written with
  f.upload.KIVPassword("p\"w\nd");
  f.upload.FullPath("/home/dealer/dock");
  f.upload.IMAGEWIDTH(640);
  f.upload.IMAGEHEIGHT(480);
  f.upload.KIVType("EXPRESSPHOTOS");
  f.upload.Primary(true);
  f.upload.Prefered(true);

  MemoryPropertyBag bag;
  f.upload.WriteProperties(bag);
  EXPECT_EQ(bag.writeOrder(),
            (std::vector<std::string>{"VehicleID", "UserID", "CompanyID", "KIVUser", "KIVPassword", "KIVFTP", "KIVWEB",
                                      "VIN", "FullPath", "IMAGEHEIGHT", "IMAGEWIDTH", "KIVType"}));
  EXPECT_EQ(bag.ReadProperty("CompanyID", Variant()).kind(), Variant::Kind::Int32);
  EXPECT_EQ(bag.ReadProperty("IMAGEWIDTH", Variant()).kind(), Variant::Kind::Int16);

  test::RecordingSite site;
  Upload restored(site);
  restored.Initialize();
  restored.ReadProperties(bag);
  EXPECT_EQ(restored.VehicleID(), "77");
  EXPECT_EQ(restored.UserID(), "-5");
  EXPECT_EQ(restored.CompanyID(), "100000");
  EXPECT_EQ(restored.KIVPassword(), "p\"w\nd");
  EXPECT_EQ(restored.FullPath(), "/home/dealer/dock");
  EXPECT_EQ(restored.IMAGEWIDTH(), 640);
  EXPECT_EQ(restored.IMAGEHEIGHT(), 480);
  EXPECT_EQ(restored.KIVType(), "EXPRESSPHOTOS");
  EXPECT_FALSE(restored.Primary());
  EXPECT_FALSE(restored.Prefered());
}

TEST(PropertiesTest, ReadingStopsAtABadValueKeepingWhatWasRead) {
  test::RecordingSite site;
  Upload upload(site);
  upload.Initialize();
  MemoryPropertyBag bag;
  bag.set("VehicleID", Variant("9"));
  bag.set("UserID", Variant("99999"));
  EXPECT_THROW(upload.ReadProperties(bag), Error);
  EXPECT_EQ(upload.VehicleID(), "9");
  EXPECT_EQ(upload.UserID(), "0");
  EXPECT_EQ(upload.KIVUser(), "");
}

}  // namespace
}  // namespace kiv
