#include "support/control_fixture.hpp"
#include "support/photos.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using test::filesUnder;

struct ExpressTest : ::testing::Test {
  test::DealerServers servers;
  test::ControlUnderTest f;
  Upload& u = f.upload;

  void SetUp() override {
    f.useServers(servers);
    u.VehicleID("5");
    u.CompanyID("9");
    u.KIVType("ExpressPhotos");
    test::writeJpeg(f.dock / "a.jpg", 400, 300);
    test::writeJpeg(f.dock / "b.jpg", 400, 300);
    std::filesystem::create_directories(f.dock / "Roll1");
    test::writeJpeg(f.dock / "Roll1/c.jpg", 400, 300);
  }
};

TEST_F(ExpressTest, SendsAndDeletesEveryPhotoThenCloses) {
  u.Show();
  EXPECT_EQ(u.Label1.Caption, "Searching for new photos... 3 photos found.");
  // Each photo is repainted once after its transfer and once with its sentence.
  EXPECT_EQ(f.progress, (std::vector<std::string>{"Uploading photo", "Uploading file 1 of 3.", "Uploading photo",
                                                  "Uploading file 2 of 3.", "Uploading photo", "Uploading file 3 of 3.",
                                                  ""}));
  EXPECT_EQ(u.Label3.Caption, "Completed.");
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
  EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"9/V5_P1.jpg", "9/V5_P2.jpg", "9/V5_P3.jpg"}));
  EXPECT_TRUE(filesUnder(f.dock.path()).empty());
  // No grid and no buttons in this mode.
  EXPECT_FALSE(u.Image2[0].Picture);
  EXPECT_FALSE(u.imgUploadAll.Visible || u.imgCancel.Visible || u.VScroll1.Visible || u.Label4.Visible);
}

TEST_F(ExpressTest, AFailedTransferKeepsItsPhotoAndTheRestGoOn) {
  // The second photo-number answer names no file.
  int calls = 0;
  f.site.onRefresh = [&] {
    if (++calls == 2) servers.configure("answer=few");
    if (calls == 3) servers.configure("answer=normal");
  };
  u.Show();
  EXPECT_EQ(f.site.messages.size(), 1u);
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
  EXPECT_EQ(filesUnder(f.dock.path()), std::set<std::string>{"b.jpg"});
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 2u);
  EXPECT_EQ(u.Label3.Caption, "Completed.");
}

TEST_F(ExpressTest, AHostAskingToStopKeepsTheRestAndStillCompletes) {
  f.site.stopAfterQueries = 0;
  u.Show();
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 1u);
  EXPECT_EQ(filesUnder(f.dock.path()).size(), 2u);
  EXPECT_EQ(u.Label3.Caption, "Completed.");
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
}

TEST_F(ExpressTest, ServerFaultsLoseNoPhoto) {
  for (const char* fault : {"ftp_fail_put=1", "ftp_truncate_put=1", "ftp_refuse_login=1", "web_down=1"}) {
    SCOPED_TRACE(fault);
    f.useServers(servers);
    f.site.messages.clear();
    f.site.events.clear();
    servers.configure(fault);
    u.Show();
    // A refused login would be refused for every photo: the run ends there.
    EXPECT_EQ(f.site.messages.size(), std::string(fault) == "ftp_refuse_login=1" ? 1u : 3u);
    EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
    EXPECT_EQ(filesUnder(f.dock.path()), (std::set<std::string>{"a.jpg", "b.jpg", "Roll1/c.jpg"}));
  }
}

}  // namespace
}  // namespace kiv
