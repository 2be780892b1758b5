#include "support/control_fixture.hpp"
#include "support/photos.hpp"
#include "support/wine.hpp"

#include <platform/internet/internet.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kiv {
namespace {

using test::filesUnder;
using test::pictureSize;
using test::underWine;

const char* const kCommunicationError =
    "There has been a communication error during the transfer of the images to server. Please try again.";

struct TransferTest : ::testing::Test {
  test::DealerServers servers;
  test::ControlUnderTest f;
  std::string photo = f.photo("IMG_0001.JPG");

  void SetUp() override {
    f.useServers(servers);
    f.upload.VehicleID("77");
    f.upload.CompanyID("12");
    test::writeJpeg(photo, 640, 480);
  }

  std::vector<std::string> webRequests(const std::string& path) const {
    std::vector<std::string> found;
    for (const std::string& line : servers.requests()) {
      if (line.rfind("WEB GET " + path, 0) == 0) found.push_back(line);
    }
    return found;
  }

  void expectOneCommunicationError() const {
    ASSERT_EQ(f.site.messages.size(), 1u);
    EXPECT_EQ(f.site.messages[0].prompt, kCommunicationError);
    EXPECT_EQ(f.site.messages[0].title, "TREMONA");
    EXPECT_EQ(f.site.messages[0].buttons, 0);
  }
};

TEST_F(TransferTest, StoresTheReducedPhotoInTheCompanyFolderUnderItsRemoteName) {
  const std::string original = test::readFile(photo);
  std::string sFileName = photo;
  f.upload.surface().MousePointer = host::pointer::Hourglass;
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));

  EXPECT_EQ(sFileName, photo);
  EXPECT_EQ(f.upload.strHTML, "1|V77_|P");
  EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"12/V77_P1.jpg"}));
  EXPECT_EQ(pictureSize(servers.ftpRoot() / "12/V77_P1.jpg"), (std::pair{170, 128}));
  EXPECT_EQ(test::readFile(photo), original) << "the local photo is never changed";
  EXPECT_EQ(f.upload.Label2.Caption, "Uploading photo");
  EXPECT_EQ(f.upload.surface().MousePointer, host::pointer::Default);
  EXPECT_TRUE(f.site.messages.empty());
  EXPECT_TRUE(webRequests("/RLQNew").empty()) << "no notification without Prefered";

  const auto photoRequests = webRequests("/capture/VBstorePhoto.asp?VID=77");
  ASSERT_EQ(photoRequests.size(), 1u);
  EXPECT_NE(photoRequests[0].find("agent=KIV"), std::string::npos) << photoRequests[0];

  // A second time is a new photo: the web server is asked afresh; the folder exists now.
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
  EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"12/V77_P1.jpg", "12/V77_P2.jpg"}));
  const auto log = servers.requests();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("FTP MKD", 0) == 0; }), 1);
}

TEST_F(TransferTest, NotifiesThePrimaryFlagOnlyWhenPrefered) {
  f.upload.Prefered(true);
  std::string sFileName = photo;
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
  f.upload.Primary(true);
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
  const auto notes = webRequests("/RLQNew/Web/Photo/PhotoSetWebPrimary.aspx");
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[0].find("PhotoSetWebPrimary.aspx?VID=77&CID=12&Primary=0&PID=1 "), std::string::npos) << notes[0];
  EXPECT_NE(notes[1].find("PhotoSetWebPrimary.aspx?VID=77&CID=12&Primary=1&PID=2 "), std::string::npos) << notes[1];

  // A failing notification does not undo a stored photo.
  servers.configure("primary_status=500");
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
  EXPECT_TRUE(f.site.messages.empty());
}

TEST_F(TransferTest, LongAnswersAreGatheredWhole) {
  servers.configure("answer=long&size=5000");
  std::string sFileName = photo;
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
  EXPECT_EQ(f.upload.strHTML.size(), 5000u);
  EXPECT_EQ(f.upload.strHTML.substr(0, 9), "1|V77_|P|");
}

TEST_F(TransferTest, AFailedPutReportsOnceAndLeavesThePhotoWhole) {
  const std::string original = test::readFile(photo);
  f.upload.Prefered(true);
  for (const char* fault : {"ftp_fail_put=1", "ftp_truncate_put=1", "ftp_refuse_login=1", "ftp_drop_put=1"}) {
    SCOPED_TRACE(fault);
    f.useServers(servers);
    f.site.messages.clear();
    servers.configure(fault);
    std::string sFileName = photo;
    EXPECT_FALSE(f.upload.kivFTPUpload(sFileName));
    expectOneCommunicationError();
    EXPECT_EQ(test::readFile(photo), original);
    EXPECT_TRUE(webRequests("/RLQNew").empty()) << "no notification for an unsent photo";
  }
}

TEST_F(TransferTest, AFolderThatCannotBeMadeSendsToTheLoginFolder) {
  servers.configure("ftp_refuse_folders=1");
  std::string sFileName = photo;
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
  EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"V77_P1.jpg"}));
}

TEST_F(TransferTest, UnusableAnswersEndTheTransferBeforeAnythingIsSent) {
  const std::string original = test::readFile(photo);
  // The last three answers name places outside the company folder: another
  // company's folder, the FTP root, the folder above.
  for (const char* fault : {"status=500", "answer=few", "answer=nonnumeric", "answer=linebreak", "answer=huge",
                            "answer=garbage", "web_down=1", "body=43%7C%2F13%2F%7Cvictim", "body=1%7C%2F%7Cx",
                            "body=1%7C..%2F%7Cx"}) {
    SCOPED_TRACE(fault);
    f.useServers(servers);
    f.site.messages.clear();
    f.upload.Label2.Caption = "before";
    servers.configure(fault);
    std::string sFileName = photo;
    EXPECT_FALSE(f.upload.kivFTPUpload(sFileName));
    expectOneCommunicationError();
    EXPECT_EQ(f.upload.Label2.Caption, "before") << "nothing was resized";
    for (const std::string& line : servers.requests()) EXPECT_EQ(line.rfind("FTP", 0), std::string::npos) << line;
    EXPECT_EQ(test::readFile(photo), original);
  }
  f.useServers(servers);
  f.upload.KIVWEB("http://127.0.0.1:1");
  std::string sFileName = photo;
  EXPECT_FALSE(f.upload.kivFTPUpload(sFileName));
}

TEST_F(TransferTest, AnErrorAnswerIsKeptInStrHtml) {
  servers.configure("status=500");
  std::string sFileName = photo;
  EXPECT_FALSE(f.upload.kivFTPUpload(sFileName));
  EXPECT_EQ(f.upload.strHTML, "error");
}

TEST_F(TransferTest, NamesReachIntoSubfoldersAndKeepTheirTabs) {
  std::filesystem::create_directories(servers.ftpRoot() / "12" / "2024");
  std::string sFileName = photo;
  servers.configure("body=5%7C2024%2F%7C%09V");
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
  servers.configure("body=6%7C%09A+%7C+B%09");
  EXPECT_TRUE(f.upload.kivFTPUpload(sFileName));
#ifdef _WIN32
  // Tab is no file-name character on Windows, so the server's folder cannot
  // show these names here: its log of what was stored does.
  const auto log = servers.requests();
  for (const char* stored : {"FTP STOR /12/2024/\tV5.jpg", "FTP STOR /12/\tAB\t6.jpg"}) {
    EXPECT_EQ(std::count(log.begin(), log.end(), stored), 1) << stored;
  }
#else
  EXPECT_EQ(filesUnder(servers.ftpRoot()), (std::set<std::string>{"12/2024/\tV5.jpg", "12/\tAB\t6.jpg"}));
#endif
  EXPECT_TRUE(f.site.messages.empty());
}

TEST_F(TransferTest, AFailedReductionSendsThePhotoUnchanged) {
  std::string text = f.photo("clip.mpeg");
  test::writeFile(text, "not really a picture");
  EXPECT_TRUE(f.upload.kivFTPUpload(text));
  EXPECT_EQ(f.upload.Label2.Caption, "Resize Failed. Uploading Image");
  EXPECT_EQ(test::readFile(servers.ftpRoot() / "12/V77_P1.jpg"), "not really a picture");

  // Cut short, but no longer being written: sent as it is, a moment later.
  const std::string whole = test::readFile(photo);
  std::string cut = f.photo("cut.jpg");
  test::writeFile(cut, whole.substr(0, whole.size() / 2));
  EXPECT_TRUE(f.upload.kivFTPUpload(cut));
  EXPECT_EQ(f.upload.Label2.Caption, "Resize Failed. Uploading Image");
  EXPECT_EQ(test::readFile(servers.ftpRoot() / "12/V77_P2.jpg"), whole.substr(0, whole.size() / 2));
  EXPECT_TRUE(f.site.kept.empty());
}

TEST_F(TransferTest, APhotoThatCannotBeReadIsAFailedTransferThatTakesNoNumber) {
  std::string missing = f.photo("gone.jpg");
#ifdef _WIN32
  // Held open by another program that shares it with nobody.
  std::string locked = f.photo("locked.jpg");
  test::writeJpeg(locked, 64, 48);
  const HANDLE holder = CreateFileW(std::filesystem::path(locked).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  for (std::string* unreadable : {&missing, &locked}) {
#else
  std::string pipe = f.photo("pipe.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (std::string* unreadable : {&missing, &pipe}) {
#endif
    f.site.messages.clear();
    EXPECT_FALSE(f.upload.kivFTPUpload(*unreadable));
    expectOneCommunicationError();
  }
#ifdef _WIN32
  CloseHandle(holder);
#endif
  EXPECT_TRUE(servers.requests().empty());
}

#ifdef _WIN32
// Working copies live in %TMP%\\kivphoto-<user>, which must be a folder of its own.
struct WorkingFolderTest : TransferTest {
  test::TempDir temporary;
  std::filesystem::path work;
  std::wstring savedTmp;
  bool hadTmp = false;

  void SetUp() override {
    TransferTest::SetUp();
    wchar_t user[257];
    DWORD length = 257;
    ASSERT_TRUE(GetUserNameW(user, &length));
    work = temporary.path() / (L"kivphoto-" + std::wstring(user));
    wchar_t saved[MAX_PATH + 1];
    const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
    hadTmp = savedLength > 0 && savedLength <= MAX_PATH;
    if (hadTmp) savedTmp.assign(saved, savedLength);
    SetEnvironmentVariableW(L"TMP", temporary.path().c_str());
  }
  void TearDown() override { SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp.c_str() : nullptr); }
  bool sends() {
    f.site.messages.clear();
    std::string sFileName = photo;
    return f.upload.kivFTPUpload(sFileName);
  }
};

TEST_F(WorkingFolderTest, CopiesLeftByAGoneProcessAreRemovedAndOnlyAPrivateFolderIsUsed) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  wchar_t command[] = L"cmd.exe /c exit 0";
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                             &process));
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const std::string gone = std::to_string(process.dwProcessId);
  const std::string own = std::to_string(GetCurrentProcessId());
  test::writeFile(work / (gone + "-a1b2c3") / "IMG_0001.JPG", "left by an ended process");
  test::writeFile(work / (own + "-d4e5f6") / "IMG_0002.JPG", "still in use");
  EXPECT_TRUE(sends());
  EXPECT_EQ(test::filesUnder(work), std::set<std::string>{own + "-d4e5f6/IMG_0002.JPG"});

  // No usable temporary folder, or a link in the working folder's place: a
  // failed transfer that takes no number.
  SetEnvironmentVariableW(L"TMP", (temporary.path() / "missing").c_str());
  EXPECT_FALSE(sends());
  expectOneCommunicationError();
  SetEnvironmentVariableW(L"TMP", temporary.path().c_str());
  std::filesystem::remove_all(work);
  std::error_code noLink;
  std::filesystem::create_directory_symlink(temporary.path(), work, noLink);
  if (!noLink) {
    EXPECT_FALSE(sends());
    expectOneCommunicationError();
  }
  EXPECT_EQ(webRequests("/capture").size(), 1u) << "only the first transfer asked for a number";
  if (noLink) {
    GTEST_SKIP() << "no symbolic link could be made (Windows asks a privilege, Wine has none): " << noLink.message();
  }
}
#else
// Working copies live in $TMPDIR/kivphoto-<uid>, which must be a private folder.
struct WorkingFolderTest : TransferTest {
  test::TempDir temporary;
  const std::filesystem::path work = temporary / ("kivphoto-" + std::to_string(::geteuid()));
  const char* const savedTmpdir = std::getenv("TMPDIR");

  void SetUp() override {
    TransferTest::SetUp();
    setenv("TMPDIR", temporary.path().c_str(), 1);
  }
  void TearDown() override {
    if (savedTmpdir) {
      setenv("TMPDIR", savedTmpdir, 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  bool sends() {
    f.site.messages.clear();
    std::string sFileName = photo;
    return f.upload.kivFTPUpload(sFileName);
  }
};

TEST_F(WorkingFolderTest, CopiesLeftByAGoneProcessAreRemovedAndOnlyAPrivateFolderIsUsed) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  test::writeFile(work / (std::to_string(gone) + "-a1b2c3") / "IMG_0001.JPG", "left by a kill -9");
  test::writeFile(work / (std::to_string(::getpid()) + "-d4e5f6") / "IMG_0002.JPG", "still in use");
  std::filesystem::permissions(work, std::filesystem::perms::all);
  EXPECT_TRUE(sends());
  EXPECT_EQ(test::filesUnder(work), std::set<std::string>{std::to_string(::getpid()) + "-d4e5f6/IMG_0002.JPG"});
  EXPECT_EQ(std::filesystem::status(work).permissions(), std::filesystem::perms::owner_all) << "closed again";

  // Another user's folder, a link, or no usable TMPDIR: a failed transfer that takes no number.
  std::filesystem::remove_all(work);
  std::filesystem::create_directory(work);
  ASSERT_EQ(::chown(work.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(sends());
  std::filesystem::remove_all(work);
  std::filesystem::create_directory_symlink(temporary.path(), work);
  EXPECT_FALSE(sends());
  setenv("TMPDIR", (temporary / "missing").c_str(), 1);
  EXPECT_FALSE(sends());
  expectOneCommunicationError();
  EXPECT_EQ(webRequests("/capture").size(), 1u) << "only the first transfer asked for a number";
}
#endif

TEST_F(TransferTest, AStalledServerIsAbandonedAfterTheIdleTimeOut) {
  net::setTimeoutsForTesting({.connect = std::chrono::seconds(2), .idle = std::chrono::seconds(2)});
  servers.configure("ftp_stall=6");
  std::string sFileName = photo;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(f.upload.kivFTPUpload(sFileName));
  // Wine's WinINet waits a fixed 30 s for an FTP reply, whatever the
  // time-outs, and closing the handle from another thread does not end that
  // wait; Windows ends it at the receive time-out or at the close.
  if (!underWine()) {
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  }
  expectOneCommunicationError();
  net::setTimeoutsForTesting({});
}

}  // namespace
}  // namespace kiv
