// Server faults and awkward input, each run through Upload All and through the
// express mode: every failure is reported once, CloseApp still ends the run, and
// no photo is deleted unless the server holds it.
#include "support/control_fixture.hpp"
#include "support/photos.hpp"
#include "support/proxy_environment.hpp"
#include "support/wine.hpp"

#include <platform/internet/internet.hpp>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <functional>
#include <thread>

namespace kiv {
namespace {

using test::filesUnder;

// The photo folder's name as the control takes it: UTF-8.
std::string utf8(const std::filesystem::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}


struct Fault {
  const char* name;
  const char* serverSwitches;  // for /_test/configure; empty for none
  bool sent;                   // whether the photos reach the server
  bool endsRun = false;        // whether the first failure ends the run
  bool hangsUnderWine = false;
};

const Fault kFaults[] = {
    {"web server answers 500 to everything", "web_down=1", false},
    {"photo-number request answers 500", "status=500", false},
    {"answer with two fields", "answer=few", false},
    {"photo number is not a number", "answer=nonnumeric", false},
    {"name piece with a line break", "answer=linebreak", false},
    {"one MiB of garbage", "answer=huge&size=1048576", false},
    {"web server answers too slowly", "delay=4", false},
    {"web answer trickles past the deadline", "trickle=1", false},
    {"answer names another company's folder", "body=43%7C%2F13%2F%7Cvictim", false},
    {"login refused", "ftp_refuse_login=1", false, true},
    {"put refused (quota)", "ftp_fail_put=1", false},
    {"connection dropped during the put", "ftp_drop_put=1", false},
    {"put truncated by the server", "ftp_truncate_put=1", false},
    {"put discarded by the server", "ftp_discard_put=1", false},
    {"server stops answering the put", "ftp_stall=5", false},
    {"set-primary notification fails", "primary_status=500", true},
    {"server without SIZE", "ftp_no_size=1", true},
    {"active mode switched off", "ftp_active_off=1", true},
    {"server never connects back in active mode", "ftp_no_connect_back=1", true, false, true},
};

class FaultTest : public ::testing::TestWithParam<std::tuple<Fault, bool>> {
 protected:
  test::DealerServers servers;
  test::ControlUnderTest f;
  Upload& u = f.upload;

  void SetUp() override {
    using std::chrono::seconds;
    net::setTimeoutsForTesting({.connect = seconds(2), .idle = seconds(2), .webDeadline = seconds(2)});
    net::forgetFtpModesForTesting();
    f.useServers(servers);
    u.VehicleID("31");
    u.CompanyID("4");
    u.Prefered(true);
    test::writeJpeg(f.dock / "a.jpg", 320, 240);
    test::writeJpeg(f.dock / "b.jpg", 320, 240);
  }
  void TearDown() override { net::setTimeoutsForTesting({}); }

  void run(bool express) {
    if (express) u.KIVType("EXPRESSPHOTOS");
    u.Show();
    if (!express) u.imgUploadAll_Click();
  }
};

TEST_P(FaultTest, ReportsEachFailureOnceAndLosesNoPhoto) {
  const auto& [fault, express] = GetParam();
  if (fault.hangsUnderWine && test::underWine()) {
    GTEST_SKIP() << test::kWineWaitsForDataConnection;
  }
  servers.configure(fault.serverSwitches);
  const std::string original = test::readFile(f.dock / "a.jpg");
  run(express);

  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
  if (fault.sent) {
    EXPECT_TRUE(f.site.messages.empty());
    EXPECT_TRUE(filesUnder(f.dock.path()).empty());
    EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"4/V31_P1.jpg", "4/V31_P2.jpg"}));
  } else {
    EXPECT_EQ(f.site.messages.size(), fault.endsRun ? 1u : 2u) << "one message per photo tried";
    EXPECT_EQ(filesUnder(f.dock.path()), (std::set<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_EQ(test::readFile(f.dock / "a.jpg"), original) << "the photo is whole";
  }
  if (fault.endsRun) {
    const auto log = servers.requests();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("FTP PASS", 0) == 0; }), 1);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("WEB GET /capture", 0) == 0; }), 1)
        << "the photo not tried took no number";
  }
  EXPECT_EQ(u.Label2.Caption, express ? "" : fault.endsRun ? "Uploading file 1 of 2." : "Uploading file 2 of 2.");
}

INSTANTIATE_TEST_SUITE_P(
    ThroughUploadAllAndExpress, FaultTest, ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::Bool()),
    [](const ::testing::TestParamInfo<FaultTest::ParamType>& param) {
      std::string name = std::string(std::get<0>(param.param).serverSwitches) + (std::get<1>(param.param) ? "_express" : "_all");
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

struct LocalFaultTest : ::testing::Test {
  test::DealerServers servers;
  test::ControlUnderTest f;
  Upload& u = f.upload;
  void SetUp() override { f.useServers(servers); }
};

TEST_F(LocalFaultTest, AServerThatIsNotThereFailsEveryPhoto) {
  test::writeJpeg(f.dock / "a.jpg", 64, 48);
  u.KIVFTP("127.0.0.1:1");
  u.Show();
  u.imgUploadAll_Click();
  EXPECT_EQ(f.site.messages.size(), 1u);
  EXPECT_EQ(filesUnder(f.dock.path()), std::set<std::string>{"a.jpg"});
}

TEST_F(LocalFaultTest, APhotoGoneBeforeItsTurnIsReportedAndTheRestAreSent) {
  test::writeJpeg(f.dock / "a.jpg", 64, 48);
  test::writeJpeg(f.dock / "b.jpg", 64, 48);
  u.Show();
  std::filesystem::remove(f.dock / "a.jpg");
  u.imgUploadAll_Click();
  EXPECT_EQ(f.site.messages.size(), 1u);
  EXPECT_TRUE(filesUnder(f.dock.path()).empty());
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 1u);
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
}

TEST_F(LocalFaultTest, AwkwardFolderNamesAndAPhotoThatIsNoPicture) {
#ifdef _WIN32
  // A double quote is no file-name character on Windows.
  const auto folder = f.dock.path() / u8"dock with 'quotes' & ümlauts";
#else
  const auto folder = f.dock.path() / u8"dock with 'quotes' \"and\" ümlauts";
#endif
  std::filesystem::create_directories(folder / u8"Röll 1");
  test::writeJpeg(folder / u8"Röll 1" / u8"ä b.jpg", 64, 48);
  test::writeFile(folder / "movie.mpeg", "not a picture");
  u.FullPath(utf8(folder));
  u.Show();
  ASSERT_EQ(u.sFiles.array().size(), 2u);
  EXPECT_TRUE(u.imgUploadAll.Visible);
  u.imgUploadAll_Click();
  EXPECT_TRUE(f.site.messages.empty());
  EXPECT_TRUE(filesUnder(folder).empty());
  EXPECT_FALSE(std::filesystem::exists(folder / u8"Röll 1"));
  EXPECT_EQ(test::readFile(servers.ftpRoot() / "1/V1395348_P1.jpg"), "not a picture") << "sent unchanged";
}

TEST_F(LocalFaultTest, FiveHundredPhotosInOneFolder) {
  test::writeJpeg(f.dock / "seed.jpg", 32, 24);
  for (int i = 0; i < 500; ++i) {
    std::filesystem::copy_file(f.dock / "seed.jpg", f.dock / (std::to_string(1000 + i).insert(0, 1, 'p') + ".jpg"));
  }
  std::filesystem::remove(f.dock / "seed.jpg");
  u.Show();
  EXPECT_EQ(u.Label1.Caption, "Searching for new photos... 500 photos found.");
  EXPECT_EQ(u.Image2.Count(), 500);
  EXPECT_EQ(u.Image2[499].Top, 5 + 1870 * 166);
  EXPECT_TRUE(u.VScroll1.Visible);
  u.VScroll1.Value = u.VScroll1.Max;
  u.VScroll1_Change();
  EXPECT_LE(u.chkSelect[499].Top + u.chkSelect[499].Height, 5535);
}

TEST_F(LocalFaultTest, AHundredMegapixelPhotoIsReducedAndSent) {
  test::writeJpeg(f.dock / "huge.jpg", 12000, 8400);
  u.Show();
  u.imgUploadAll_Click();
  EXPECT_TRUE(f.site.messages.empty());
  EXPECT_EQ(test::pictureSize(servers.ftpRoot() / "1/V1395348_P1.jpg"), (std::pair{170, 119}));
}

TEST_F(LocalFaultTest, NothingOutsideThePhotoFolderIsSentOrDeleted) {
  test::TempDir around;
  const auto dock = around / "dock";
  for (const auto& folder : {dock / "roll", around / "outside"}) std::filesystem::create_directories(folder);
  test::writeJpeg(dock / "real.jpg", 64, 48);
  test::writeJpeg(dock / "roll" / "r.jpg", 64, 48);
  test::writeFile(around / "secret.key", "PRIVATE KEY");
  std::filesystem::permissions(around / "secret.key", std::filesystem::perms::owner_read);
  test::writeJpeg(around / "outside" / "o.jpg", 64, 48);
  test::writeJpeg(around / "p.jpg", 64, 48);
#ifdef _WIN32
  std::error_code noLinks;
  std::filesystem::create_symlink(around / "secret.key", dock / "x.jpg", noLinks);
  if (noLinks) {
    GTEST_SKIP() << "no symbolic link could be made (Windows asks a privilege, Wine has none): " << noLinks.message();
  }
#else
  std::filesystem::create_symlink(around / "secret.key", dock / "x.jpg");
#endif
  std::filesystem::create_directory_symlink("../outside", dock / "cam");
  std::filesystem::create_directory_symlink("..", dock / "up");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((dock / "pipe.jpg").c_str(), 0600), 0);
#endif
  // Reached through a link itself, the photo folder works as any other.
  std::filesystem::create_directory_symlink(dock, around / "dock-link");
  u.FullPath((around / "dock-link").string());
  u.Show();
  EXPECT_EQ(u.sFiles.array().size(), 2u) << "real.jpg and roll/r.jpg only";

  // After the scan the subfolder is swapped for a link to a folder outside.
  std::filesystem::rename(dock / "roll", around / "roll-outside");
  std::filesystem::create_directory_symlink("../roll-outside", dock / "roll");
  u.imgUploadAll_Click();

  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
  EXPECT_EQ(f.site.messages.size(), 1u) << "roll/r.jpg is no longer inside";
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 1u);
  EXPECT_EQ(test::pictureSize(servers.ftpRoot() / "1/V1395348_P1.jpg"), (std::pair{64, 48}));
  EXPECT_EQ(filesUnder(around.path()),
            (std::set<std::string>{"secret.key", "outside/o.jpg", "p.jpg", "roll-outside/r.jpg"}));
  for (const char* link : {"x.jpg", "cam", "up", "roll"}) EXPECT_TRUE(std::filesystem::is_symlink(dock / link)) << link;
}

TEST_F(LocalFaultTest, ThePhotoDeletedIsThePhotoSent) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) test::writeJpeg(f.dock / name, 64, 48);
  test::writeFile(f.dock / "other.tmp", "another picture");
  u.Show();
  // Between each confirmed put and its deletion another program steps in: it
  // renames a picture over photo 1, goes on writing photo 2, takes photo 3.
  f.site.onRefresh = [&] {
    const std::string& caption = u.Label2.Caption;
    if (caption == "Uploading file 1 of 3.") std::filesystem::rename(f.dock / "other.tmp", f.dock / "a.jpg");
    if (caption == "Uploading file 2 of 3.") test::writeFile(f.dock / "b.jpg", "rewritten");
    if (caption == "Uploading file 3 of 3.") std::filesystem::remove(f.dock / "c.jpg");
  };
  u.imgUploadAll_Click();
  EXPECT_EQ(f.site.events, std::vector<std::string>{"CloseApp"});
  EXPECT_TRUE(f.site.messages.empty());
  EXPECT_EQ(test::readFile(f.dock / "a.jpg"), "another picture");
  EXPECT_EQ(test::readFile(f.dock / "b.jpg"), "rewritten");
  EXPECT_EQ(filesUnder(f.dock.path()), (std::set<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 3u);
}

TEST_F(LocalFaultTest, APhotoStillBeingWrittenIsKeptWhole) {
  test::writeJpeg(f.dock / "b.jpg", 64, 48);
  const std::filesystem::path growing = f.dock / "a.jpg";
  test::writeFile(growing, std::string(16 << 20, 'x'));
  std::atomic<bool> docking{true};
  std::size_t written = 16 << 20;
  std::thread dock([&] {
    std::ofstream out(growing, std::ios::binary | std::ios::app);
    while (docking) {
      out << std::string(4096, 'y') << std::flush;
      written += 4096;
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  u.KIVType("EXPRESSPHOTOS");
  f.site.onRefresh = [&] { docking = false; };
  u.Show();
  dock.join();

  EXPECT_EQ(std::filesystem::file_size(growing), written) << "the photo is whole";
  EXPECT_EQ(filesUnder(f.dock.path()), std::set<std::string>{"a.jpg"});
  // Nearly always the dock writes while the photo is copied: then it is not
  // sent at all and takes no number. Should the copy slip in between two
  // writes, the photo is sent as it was then, and kept because it changed.
  const auto log = servers.requests();
  const auto numbers =
      std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("WEB GET /capture", 0) == 0; });
  EXPECT_EQ(numbers, static_cast<long>(filesUnder(servers.ftpRoot()).size()));
  EXPECT_EQ(f.site.messages.size(), numbers == 1 ? 1u : 0u);
}

// A dock copies a photo in two halves, the second 1.5 s into the run, on a
// busy machine: nothing made of the half is stored, and the photo goes only
// once the server holds the whole picture.
TEST_F(LocalFaultTest, APhotoHalfCopiedFromTheCameraIsNeitherSentHalfNorLost) {
  const auto photo = f.dock / "a.jpg";
  test::writeJpeg(photo, 800, 600);
  const std::string whole = test::readFile(photo);
  const auto [red, green] = test::redGreenAt(photo, 790, 590);
  test::writeFile(photo, whole.substr(0, whole.size() / 2));
  std::atomic<bool> busy{true};
  std::vector<std::thread> load;
  for (unsigned i = 0; i < 2 * std::max(1u, std::thread::hardware_concurrency()); ++i) {
    load.emplace_back([&] {
      std::uint64_t spins = 0;
      while (busy.load(std::memory_order_relaxed)) ++spins;
      return spins;
    });
  }
  std::thread dock([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::ofstream(photo, std::ios::binary | std::ios::app) << whole.substr(whole.size() / 2);
  });
  u.IMAGEWIDTH(800);
  u.IMAGEHEIGHT(600);
  u.KIVType("EXPRESSPHOTOS");
  u.Show();
  dock.join();
  busy = false;
  for (std::thread& thread : load) thread.join();

  const auto stored = filesUnder(servers.ftpRoot());
  if (std::filesystem::exists(photo)) {
    EXPECT_EQ(test::readFile(photo), whole);
    EXPECT_TRUE(stored.empty());
    for (const std::string& line : servers.requests()) EXPECT_EQ(line.rfind("WEB GET /capture", 0), std::string::npos);
    ASSERT_EQ(f.site.kept.size(), 1u);
    EXPECT_NE(f.site.kept[0].find("still being written"), std::string::npos);
    EXPECT_TRUE(f.site.messages.empty());
  } else {
    ASSERT_EQ(stored.size(), 1u);
    const auto sent = servers.ftpRoot() / *stored.begin();
    EXPECT_EQ(test::pictureSize(sent), (std::pair{800, 600}));
    const auto [sentRed, sentGreen] = test::redGreenAt(sent, 790, 590);
    EXPECT_NEAR(sentRed, red, 24) << "the lower half was in the picture sent";
    EXPECT_NEAR(sentGreen, green, 24);
  }
}

TEST_F(LocalFaultTest, OneRunOfAFolderAtATime) {
  for (const char* name : {"a.jpg", "b.jpg"}) test::writeJpeg(f.dock / name, 64, 48);
  test::ControlUnderTest second;
  second.useServers(servers);
  second.upload.FullPath(f.dock.path().string());
  u.Show();
  second.upload.Show();

  // While the first run is between its photos, the second one tries both ways in.
  int refusals = 0;
  const auto refused = [&](const std::function<void()>& attempt) {
    try {
      attempt();
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::PermissionDenied);
      ++refusals;
    }
  };
  f.site.onRefresh = [&] {
    if (u.Label2.Caption != "Uploading file 1 of 2.") return;
    refused([&] { second.upload.imgUploadAll_Click(); });
    second.upload.KIVType("EXPRESSPHOTOS");
    refused([&] { second.upload.Show(); });
    second.upload.KIVType("");
  };
  u.imgUploadAll_Click();
  EXPECT_EQ(refusals, 2);
  EXPECT_TRUE(second.site.events.empty());
  EXPECT_EQ(second.upload.imgUploadAll.MousePointer, host::pointer::Arrow);
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 2u) << "each photo sent once";
  EXPECT_TRUE(filesUnder(f.dock.path()).empty());

  // Once the first run is over the folder is free again.
  test::writeJpeg(f.dock / "c.jpg", 64, 48);
  second.upload.Show();
  second.upload.imgUploadAll_Click();
  EXPECT_EQ(second.site.events, std::vector<std::string>{"CloseApp"});
}

TEST_F(LocalFaultTest, AnHttpProxyNeverSeesTheFtpTraffic) {
  for (const char* name : {"a.jpg", "b.jpg"}) test::writeJpeg(f.dock / name, 64, 48);
  {
    const test::ProxyEnvironment proxy({"ftp_proxy"}, servers.proxyUrl());
    u.Show();
    u.imgUploadAll_Click();
  }
  EXPECT_TRUE(f.site.messages.empty());
  EXPECT_TRUE(filesUnder(f.dock.path()).empty());
  EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"1/V1395348_P1.jpg", "1/V1395348_P2.jpg"}));
  for (const std::string& line : servers.requests()) EXPECT_EQ(line.rfind("PROXY", 0), std::string::npos) << line;
}

TEST_F(LocalFaultTest, AHealthySlowLinkSendsThePhotoOnce) {
  net::setTimeoutsForTesting({.connect = std::chrono::seconds(2), .idle = std::chrono::seconds(2)});
  // No picture, so it is sent at its full 24 KiB: six seconds at 4,000 B/s.
  std::string content(24 * 1024, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  test::writeFile(f.dock / "a.jpg", content);
  servers.configure("ftp_rate=4000");
  u.Show();
  u.imgUploadAll_Click();
  net::setTimeoutsForTesting({});
  EXPECT_TRUE(f.site.messages.empty());
  EXPECT_TRUE(filesUnder(f.dock.path()).empty());
  EXPECT_EQ(test::readFile(servers.ftpRoot() / "1/V1395348_P1.jpg"), content);
  EXPECT_EQ(filesUnder(servers.ftpRoot()).size(), 1u);
}

}  // namespace
}  // namespace kiv
