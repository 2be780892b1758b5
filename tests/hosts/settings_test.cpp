#include "settings.hpp"

#include <control/upload.hpp>

#include "support/recording_site.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kiv::app {
namespace {

#ifdef _WIN32
// The C library's copy and the system's both change; an empty value removes.
void setVariable(const char* name, const std::string& value) { ::_putenv_s(name, value.c_str()); }
void removeVariable(const char* name) { ::_putenv_s(name, ""); }
#else
void setVariable(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
void removeVariable(const char* name) { ::unsetenv(name); }
#endif

struct SettingsTest : ::testing::Test {
  void SetUp() override { removeVariable("KIV_FTP_PASSWORD"); }

  std::string failure(const Options& options) {
    Upload fresh(site);
    try {
      applySettings(fresh, options);
    } catch (const SettingError& error) {
      return error.what();
    }
    return "no error";
  }

  test::RecordingSite site;
  Upload upload{site};
  test::TempDir tmp;
  std::filesystem::path file = tmp / "kivphoto.properties";
};

TEST_F(SettingsTest, TheCommandLineOverridesTheFileAndNothingIsWrittenUnasked) {
  test::writeFile(file, "FullPath = \"/dock\"\nIMAGEWIDTH = 800\nKIVPassword = \"stored\"\n");
  Options options;
  options.propertiesFile = file;
  options.settings = {{"IMAGEWIDTH", "640"}, {"VehicleID", "7777777"}};
  const AppliedSettings applied = applySettings(upload, options);
  EXPECT_EQ(upload.IMAGEWIDTH(), 640);
  EXPECT_EQ(upload.FullPath(), "/dock");
  EXPECT_TRUE(applied.folderGiven);
  EXPECT_FALSE(applied.defaultPassword);
  EXPECT_EQ(applied.missing, (std::vector<std::string>{"--company (CompanyID)", "--web (KIVWEB)", "--ftp (KIVFTP)"}));
  EXPECT_EQ(test::readFile(file), "FullPath = \"/dock\"\nIMAGEWIDTH = 800\nKIVPassword = \"stored\"\n");

  saveProperties(upload, file);
  EXPECT_NE(test::readFile(file).find("VehicleID = 7777777"), std::string::npos);
}

TEST_F(SettingsTest, NoPasswordAnywhereMeansTheDefaultAndIsSaid) {
  const AppliedSettings applied = applySettings(upload, Options{});
  EXPECT_TRUE(applied.defaultPassword);
  EXPECT_FALSE(applied.folderGiven);
  setVariable("KIV_FTP_PASSWORD", "s3cret");
  EXPECT_FALSE(applySettings(upload, Options{}).defaultPassword);
  EXPECT_EQ(upload.KIVPassword(), "s3cret");
}

TEST_F(SettingsTest, DamagedSettingsNameTheirFileLineAndProperty) {
  Options fromFile;
  fromFile.propertiesFile = file;
  test::writeFile(file, "# saved\nFullPath = \"/dock\"\nIMAGEWIDTH = \"wide\"\n");
  EXPECT_EQ(failure(fromFile), "property file " + file.string() +
                                   ", line 3: IMAGEWIDTH: Type mismatch: \"wide\" is not a number");
  test::writeFile(file, "VIN=ABC\n");
  EXPECT_NE(failure(fromFile).find(":1: the value of VIN must be a number or text in double quotes"),
            std::string::npos);
  test::writeFile(file, "IMAGEHEIGHT = 0\n");
  EXPECT_EQ(failure(fromFile), "property file " + file.string() +
                                   ", line 1: IMAGEHEIGHT: a photo size must be 1 pixel or more (got 0)");

  Options fromCommandLine;
  fromCommandLine.settings = {{"IMAGEWIDTH", "0"}};
  EXPECT_EQ(failure(fromCommandLine), "command line: IMAGEWIDTH: a photo size must be 1 pixel or more (got 0)");
  fromCommandLine.settings = {{"IMAGEHEIGHT", "-5"}};
  EXPECT_NE(failure(fromCommandLine).find("(got -5)"), std::string::npos);
}

TEST_F(SettingsTest, WithoutPropertiesTheUsersOwnFileIsReadAndSavedIntoItsNewFolder) {
#ifdef _WIN32
  const char* place = "APPDATA";
#else
  const char* place = "XDG_CONFIG_HOME";
#endif
  const char* before = std::getenv(place);
  const std::string saved = before != nullptr ? before : "";
  setVariable(place, tmp.path().string());
  const Options first = parseOptions(Program::Terminal, {"--vehicle", "41", "--save"});
  const std::filesystem::path file = tmp / "kivPhotoUpload" / "kivphoto.properties";
  EXPECT_EQ(first.propertiesFile, file);
  applySettings(upload, first);
  saveProperties(upload, *first.propertiesFile);
  Upload again(site);
  applySettings(again, parseOptions(Program::Terminal, {"list"}));
  EXPECT_EQ(again.VehicleID(), "41");

  setVariable(place, "relative");
#ifndef _WIN32
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  removeVariable("HOME");
#endif
  EXPECT_THROW(parseOptions(Program::Terminal, {"--save"}), UsageError);
#ifndef _WIN32
  if (!home.empty()) setVariable("HOME", home);
#endif
  if (before != nullptr) setVariable(place, saved);
  else removeVariable(place);
}

}  // namespace
}  // namespace kiv::app
