#include "options.hpp"

#include <control/upload.hpp>

#include "support/recording_site.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace kiv::desktop {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(DesktopOptionsTest, FriendlyOptionsBecomePropertiesInOrder) {
  Options o = parseCommandLine({"--folder", "/photos", "--vehicle=12", "--company", "8", "--web", "http://w",
                                "--ftp", "127.0.0.1:21", "--ftp-user", "dealer", "--width", "640", "--height",
                                "480", "--mode", "expressphotos", "--primary", "--preferred"},
                               nullptr);
  EXPECT_EQ(o.properties, (Pairs{{"FullPath", "/photos"},
                                 {"VehicleID", "12"},
                                 {"CompanyID", "8"},
                                 {"KIVWEB", "http://w"},
                                 {"KIVFTP", "127.0.0.1:21"},
                                 {"KIVUser", "dealer"},
                                 {"IMAGEWIDTH", "640"},
                                 {"IMAGEHEIGHT", "480"},
                                 {"KIVType", "expressphotos"},
                                 {"Primary", "True"},
                                 {"Prefered", "True"}}));
  EXPECT_FALSE(o.propertiesFile);
}

TEST(DesktopOptionsTest, PasswordComesFromTheEnvironmentAndPropertiesFileIsKept) {
  Options o = parseCommandLine({"--properties", "/tmp/p.txt", "--set", "VIN=WVW123"}, "s3cret");
  ASSERT_TRUE(o.propertiesFile);
  EXPECT_EQ(*o.propertiesFile, "/tmp/p.txt");
  EXPECT_EQ(o.properties, (Pairs{{"VIN", "WVW123"}, {"KIVPassword", "s3cret"}}));
}

TEST(DesktopOptionsTest, BadCommandLinesAreRefusedWithTheReason) {
  EXPECT_THROW(parseCommandLine({"--colour", "red"}, nullptr), UsageError);
  EXPECT_THROW(parseCommandLine({"--folder"}, nullptr), UsageError);
  EXPECT_THROW(parseCommandLine({"--set", "noequals"}, nullptr), UsageError);
  EXPECT_THROW(parseCommandLine({"--primary=yes"}, nullptr), UsageError);
  try {
    parseCommandLine({"--width"}, nullptr);
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), "--width needs a value");
  }
}

TEST(DesktopOptionsTest, ApplyPropertyUsesTheControlsSettersAndNamesTheCulprit) {
  test::RecordingSite site;
  Upload upload(site);
  applyProperty(upload, "imagewidth", "800");
  applyProperty(upload, "Primary", "True");
  applyProperty(upload, "KIVFTP", "127.0.0.1:2121");
  EXPECT_EQ(upload.IMAGEWIDTH(), 800);
  EXPECT_TRUE(upload.Primary());
  EXPECT_EQ(upload.KIVFTP(), "127.0.0.1:2121");

  try {
    applyProperty(upload, "IMAGEWIDTH", "wide");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 13);
    EXPECT_NE(std::string(e.what()).find("IMAGEWIDTH"), std::string::npos);
  }
  EXPECT_EQ(upload.IMAGEWIDTH(), 800);
  try {
    applyProperty(upload, "Colour", "red");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 438);
  }
}

TEST(DesktopProgramTest, RunsWithCoreDumpsOff) {
  test::TempDir scratch;
  const std::string limits = (scratch / "limits").string();
  const std::string command = "ulimit -c unlimited; '" + std::string(KIVPHOTO_DESKTOP_EXECUTABLE) + "' --folder '" +
                              scratch.path().string() + "' >/dev/null 2>&1 & pid=$!; sleep 2; " +
                              "grep 'Max core file size' /proc/$pid/limits >'" + limits + "'; kill $pid; wait $pid";
  std::system(command.c_str());
  std::istringstream line(test::readFile(limits));
  std::string max, core, file, size, soft, hard;
  line >> max >> core >> file >> size >> soft >> hard;
  EXPECT_EQ(soft + " " + hard, "0 0") << line.str();
}

}  // namespace
}  // namespace kiv::desktop
