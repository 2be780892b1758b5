#include <platform/host/error.hpp>
#include "property_file.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kiv::app {
namespace {

using host::Variant;

TEST(PropertyFileTest, FileBagRoundTripsAwkwardTextAndNumbers) {
  test::TempDir dir;
  FilePropertyBag bag;
  bag.WriteProperty("KIVPassword", Variant("a\"b\\c\nd\te\x01 \xC3\xA9 "), Variant("vorpelk"));
  bag.WriteProperty("VehicleID", Variant(std::int32_t{-7}), Variant(std::int32_t{1}));
  bag.WriteProperty("FullPath", Variant("  /dock with spaces/ "), Variant(""));
  bag.save(dir / "props");

  FilePropertyBag read = FilePropertyBag::load(dir / "props");
  EXPECT_EQ(read.ReadProperty("KIVPassword", Variant()).toString(), "a\"b\\c\nd\te\x01 \xC3\xA9 ");
  EXPECT_EQ(read.ReadProperty("VehicleID", Variant()), Variant(std::int32_t{-7}));
  EXPECT_EQ(read.ReadProperty("FullPath", Variant()).toString(), "  /dock with spaces/ ");
  EXPECT_EQ(read.ReadProperty("Missing", Variant("fallback")).toString(), "fallback");
}

#ifndef _WIN32
TEST(PropertyFileTest, SavedFileIsReadableByItsOwnerOnlyAndReplacedWhole) {
  test::TempDir dir;
  test::writeFile(dir / "props", "VIN = \"old\"\n");
  ::chmod((dir / "props").c_str(), 0644);
  // Another user in a shared folder plants files where a save might write.
  const auto planted = dir / ("props.tmp-" + std::to_string(::getpid()));
  test::writeFile(planted, "planted");
  ::chmod(planted.c_str(), 0666);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
  }
  std::filesystem::create_symlink(planted, dir / ".kiv-link");
  const mode_t umask = ::umask(0);
  FilePropertyBag bag;
  bag.WriteProperty("VIN", Variant("new"), Variant(""));
  bag.save(dir / "props");
  ::umask(umask);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "props").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_uid, ::geteuid());
  EXPECT_EQ(FilePropertyBag::load(dir / "props").ReadProperty("VIN", Variant()).toString(), "new");
  EXPECT_EQ(test::readFile(planted), "planted");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "no temporary file left";
}
#else
// Windows has no mode bits to check: the file takes the access list of its folder.
TEST(PropertyFileTest, SavedFileReplacesTheOldOneWhole) {
  test::TempDir dir;
  test::writeFile(dir / "props", "VIN = \"old\"\nCompanyID = 12\n");
  FilePropertyBag bag = FilePropertyBag::load(dir / "props");
  bag.WriteProperty("VIN", Variant("new"), Variant(""));
  bag.save(dir / "props");
  EXPECT_EQ(test::readFile(dir / "props"), "# kivPhotoUpload properties\nVIN = \"new\"\nCompanyID = 12\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file left";
}
#endif

TEST(PropertyFileTest, PathsAndTextOutsideTheCodePageSurvive) {
  test::TempDir dir;
  const std::string folder = "\xC3\x85lesund \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC";
  const std::filesystem::path named = dir.path() / u8"\u00C5lesund \u2013 \u6771\u4EAC.properties";
  FilePropertyBag bag;
  bag.WriteProperty("FullPath", Variant(folder), Variant(""));
  bag.save(named);
  EXPECT_TRUE(std::filesystem::exists(named));
  EXPECT_EQ(FilePropertyBag::load(named).ReadProperty("FullPath", Variant()).toString(), folder);
}

TEST(PropertyFileTest, DamagedFileNamesTheFileAndLine) {
  for (const char* text : {"VIN = \"unterminated\n", "= 5\n", "VIN 5\n", "VIN = abc\n", "VIN = \"x\" trailing\n",
                           "VIN = \"bad \\q escape\"\n", "VIN = \"\\x4\"\n"}) {
    try {
      FilePropertyBag::parse(std::string("# comment\n\n") + text, "props.txt");
      ADD_FAILURE() << text;
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find("props.txt:3:"), std::string::npos) << error.what();
    }
  }
  try {
    FilePropertyBag::load("/nonexistent/props");
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::PathNotFound);
  }
  test::TempDir dir;
  try {
    FilePropertyBag::load(dir / "props");
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::FileNotFound);
    EXPECT_NE(std::string(error.what()).find("props"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace kiv::app
