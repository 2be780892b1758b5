#include "support/control_fixture.hpp"
#include "support/photos.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <unistd.h>

namespace kiv {
namespace {

using test::filesUnder;

struct CommandsTest : ::testing::Test {
  test::DealerServers servers;
  test::ControlUnderTest f;
  Upload& u = f.upload;

  void SetUp() override {
    f.useServers(servers);
    u.VehicleID("3");
    u.CompanyID("8");
  }
  void photo(const std::string& relative) {
    std::filesystem::create_directories((f.dock / relative).parent_path());
    test::writeJpeg(f.dock / relative, 300, 200);
  }
  std::vector<std::string> sentences() const {
    std::vector<std::string> out;
    for (const auto& caption : f.progress) {
      if (caption.rfind("Uploading file", 0) == 0) out.push_back(caption);
    }
    return out;
  }
};

TEST_F(CommandsTest, UploadAllSendsEveryPhotoDeletesItAndCloses) {
  photo("a.jpg");
  photo("b.jpg");
  photo("c.jpg");
  u.Show();
  u.imgUploadAll_Click();
  EXPECT_EQ(sentences(), (std::vector<std::string>{"Uploading file 1 of 3.", "Uploading file 2 of 3.",
                                                   "Uploading file 3 of 3."}));
  EXPECT_TRUE(filesUnder(f.dock.path()).empty());
  EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"8/V3_P1.jpg", "8/V3_P2.jpg", "8/V3_P3.jpg"}));
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
  EXPECT_EQ(u.imgUploadAll.MousePointer, host::pointer::Arrow);
  EXPECT_EQ(f.site.stopQueries, 3) << "the host is asked after every photo";
  // One login and one folder change serve the whole run.
  const auto log = servers.requests();
  const auto count = [&](const char* start) {
    return std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  };
  EXPECT_EQ(count("FTP USER"), 1);
  EXPECT_EQ(count("FTP CWD"), 2);  // refused, then entered after MKD
  EXPECT_EQ(count("FTP SIZE"), 3);
  EXPECT_EQ(count("WEB CONNECT"), 1);
}

TEST_F(CommandsTest, AHostAskingToStopEndsEitherCommandAfterThePhotoInFlight) {
  for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg"}) photo(name);
  u.Show();
  f.site.stopAfterQueries = 0;
  u.chkSelect[1].Value = 1;
  u.chkSelect[2].Value = 1;
  u.imgSelectedPhotos_Click();
  EXPECT_EQ(sentences(), std::vector<std::string>{"Uploading file 2 of 4."});
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
  EXPECT_EQ(u.imgSelectedPhotos.MousePointer, host::pointer::Arrow);

  u.Show();
  f.site.stopQueries = 0;
  f.site.stopAfterQueries = 1;
  u.imgUploadAll_Click();
  EXPECT_EQ(filesUnder(f.dock.path()), std::set<std::string>{"4.jpg"});
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 3u);
  // The photos prepared ahead of the stop leave no working copies behind.
  const std::string ours = std::to_string(::getpid()) + "-";
  std::error_code ec;
  for (const auto& work : std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ec)) {
    if (work.path().filename().string().rfind("kivphoto-", 0) != 0 || !work.is_directory(ec)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(work.path(), ec)) {
      EXPECT_NE(entry.path().filename().string().rfind(ours, 0), 0u) << entry.path();
    }
  }
}

TEST_F(CommandsTest, UploadSelectedSendsOnlyTickedPhotosNumberedInTheWholeList) {
  for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg", "6.jpg"}) photo(name);
  u.Show();
  u.chkSelect[1].Value = 1;
  u.chkSelect[4].Value = 1;
  u.chkSelect[5].Value = 2;  // grey is not ticked
  u.imgSelectedPhotos_Click();
  EXPECT_EQ(sentences(), (std::vector<std::string>{"Uploading file 2 of 6.", "Uploading file 5 of 6."}));
  EXPECT_EQ(filesUnder(f.dock.path()), (std::set<std::string>{"1.jpg", "3.jpg", "4.jpg", "6.jpg"}));
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 2u);
  EXPECT_EQ(u.imgSelectedPhotos.MousePointer, host::pointer::Arrow);
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
}

TEST_F(CommandsTest, NothingTickedSendsNothingButStillCloses) {
  photo("a.jpg");
  u.Show();
  u.Label2.Caption = "unchanged";
  u.imgSelectedPhotos_Click();
  EXPECT_EQ(u.Label2.Caption, "unchanged");
  EXPECT_TRUE(servers.requests().empty());
  EXPECT_EQ(filesUnder(f.dock.path()), std::set<std::string>{"a.jpg"});
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
}

TEST_F(CommandsTest, AFailedTransferIsReportedOnceAndTheRestAreSent) {
  photo("a.jpg");
  photo("b.jpg");
  photo("c.jpg");
  u.Show();
  int refreshes = 0;
  f.site.onRefresh = [&] {
    f.progress.push_back(u.Label2.Caption);
    if (++refreshes == 2) servers.configure("ftp_fail_put=1");
    if (refreshes == 3) servers.configure("ftp_fail_put=0");
  };
  u.imgUploadAll_Click();
  EXPECT_EQ(f.site.messages.size(), 1u);
  // Every repaint is recorded here, the closing one included.
  EXPECT_EQ(sentences(), (std::vector<std::string>{"Uploading file 1 of 3.", "Uploading file 2 of 3.",
                                                   "Uploading file 3 of 3.", "Uploading file 3 of 3."}));
  EXPECT_EQ(filesUnder(f.dock.path()), std::set<std::string>{"b.jpg"});
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
}

TEST_F(CommandsTest, SubfoldersGoOnlyWhenNothingIsLeftInThem) {
  photo("top.jpg");
  photo("Emptied/last.jpg");
  photo("Deep/Inner/keep.jpg");  // below the scan: never sent, never lost
  test::writeFile(f.dock / "Notes/readme.txt", "keep me");
  test::writeFile(f.dock / "Hidden/._IMG_0001.JPG", "companion");
  std::filesystem::create_directories(f.dock / "Empty");
  u.Show();
  ASSERT_EQ(u.sFiles.array().size(), 2u);

  // Check what is left after the first photo: the empty subfolder has gone.
  int refreshes = 0;
  f.site.onRefresh = [&] {
    if (++refreshes == 3) {
      EXPECT_FALSE(std::filesystem::exists(f.dock / "Empty"));
    }
  };
  u.imgUploadAll_Click();
  EXPECT_TRUE(f.site.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(f.dock / "Emptied"));
  EXPECT_FALSE(std::filesystem::exists(f.dock / "Empty"));
  EXPECT_EQ(filesUnder(f.dock.path()),
            (std::set<std::string>{"Deep/Inner/keep.jpg", "Notes/readme.txt", "Hidden/._IMG_0001.JPG"}));
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
}

TEST_F(CommandsTest, AnErrorEndsTheCommandWithTheArrowPointerAndNoCloseApp) {
  photo("a.jpg");
  photo("b.jpg");
  u.Show();
  f.site.onRefresh = [&] {
    if (u.Label2.Caption == "Uploading file 1 of 2.") throw Error(errc::PermissionDenied, "the container failed to repaint");
  };
  EXPECT_THROW(u.imgUploadAll_Click(), Error);
  EXPECT_EQ(u.imgUploadAll.MousePointer, host::pointer::Arrow);
  EXPECT_TRUE(f.site.events.empty());
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 1u) << "photo 2 was never tried";
}

TEST_F(CommandsTest, AnEmptyListOnlyFlipsThePointer) {
  u.Show();
  u.imgUploadAll_Click();
  u.imgSelectedPhotos_Click();
  EXPECT_EQ(u.imgUploadAll.MousePointer, host::pointer::Arrow);
  EXPECT_EQ(u.imgSelectedPhotos.MousePointer, host::pointer::Arrow);
  EXPECT_TRUE(f.site.events.empty());
  EXPECT_TRUE(servers.requests().empty());
}

}  // namespace
}  // namespace kiv
