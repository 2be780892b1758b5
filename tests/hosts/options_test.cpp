#include "options.hpp"

#include <gtest/gtest.h>

namespace kiv::app {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(OptionsTest, FriendlyOptionsAndSetBecomePropertiesInCommandLineOrder) {
  for (Program program : {Program::Terminal, Program::Desktop}) {
    Options o = parseOptions(program, {"--set", "VIN=WVW123", "--folder", "/photos", "--vehicle=12", "--company", "8",
                                       "--web", "http://w", "--ftp", "127.0.0.1:21", "--ftp-user", "dealer",
                                       "--width", "-5", "--height", "480", "--mode", "expressphotos", "--primary",
                                       "--preferred", "--set", "VIN=", "--quiet", "--properties", "/tmp/p.txt"});
    EXPECT_EQ(o.settings, (Pairs{{"VIN", "WVW123"},
                                 {"FullPath", "/photos"},
                                 {"VehicleID", "12"},
                                 {"CompanyID", "8"},
                                 {"KIVWEB", "http://w"},
                                 {"KIVFTP", "127.0.0.1:21"},
                                 {"KIVUser", "dealer"},
                                 {"IMAGEWIDTH", "-5"},
                                 {"IMAGEHEIGHT", "480"},
                                 {"KIVType", "expressphotos"},
                                 {"Primary", "True"},
                                 {"Prefered", "True"},
                                 {"VIN", ""}}));
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.propertiesFile, "/tmp/p.txt");
  }
}

TEST(OptionsTest, TheTerminalTakesAnActionAndTheDesktopAFolder) {
  Options terminal = parseOptions(Program::Terminal, {"upload", "3,1,5-6", "--folder", "/p"});
  EXPECT_EQ(terminal.action, Action::UploadSelected);
  EXPECT_EQ(terminal.selection, (std::vector<int>{1, 3, 5, 6}));
  EXPECT_EQ(parseOptions(Program::Terminal, {"upload-all"}).action, Action::UploadAll);

  Options desktop = parseOptions(Program::Desktop, {"--vehicle", "7", "/home/dealer/dock"});
  EXPECT_EQ(desktop.settings, (Pairs{{"VehicleID", "7"}, {"FullPath", "/home/dealer/dock"}}));
  EXPECT_EQ(desktop.action, Action::None);
  EXPECT_TRUE(parseOptions(Program::Desktop, {"--version"}).version);
  EXPECT_TRUE(parseOptions(Program::Desktop, {"--password-file", "/f"}).passwordFile);
}

TEST(OptionsTest, BadCommandLinesAreRefusedWithTheReason) {
  struct Case {
    Program program;
    std::vector<std::string> arguments;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {Program::Desktop, {"--colour", "red"}, "--colour"},
      {Program::Desktop, {"--width"}, "--width"},
      {Program::Desktop, {"--set", "noequals"}, "NAME=VALUE"},
      {Program::Desktop, {"--primary=yes"}, "takes no value"},
      {Program::Desktop, {"/a", "/b"}, "one photo folder"},
      {Program::Terminal, {"--password", "x"}, "KIV_FTP_PASSWORD"},
      {Program::Terminal, {"upload", "0"}, "out of range"},
      {Program::Terminal, {"upload", "3-1"}, "bad range"},
      {Program::Terminal, {"list", "extra"}, "unexpected argument"},
  };
  for (const Case& c : cases) {
    try {
      parseOptions(c.program, c.arguments);
      ADD_FAILURE() << c.reason;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}

TEST(OptionsTest, HelpListsTheSameSettingsForBothPrograms) {
  for (Program program : {Program::Terminal, Program::Desktop}) {
    const std::string help = helpText(program);
    for (const char* option : {"--folder", "--password-file", "--version", "--quiet", "--save", "double quotes"}) {
      EXPECT_NE(help.find(option), std::string::npos) << option;
    }
  }
  EXPECT_NE(helpText(Program::Desktop).find("[FOLDER]"), std::string::npos);
}

}  // namespace
}  // namespace kiv::app
