// kivphoto run as a subprocess against the stand-in dealer servers.
#include "support/dealer_servers.hpp"
#include "support/photos.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <platform/windows/utf16.hpp>

#include <windows.h>

#include <cwchar>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;
using kiv::test::DealerServers;
using kiv::test::TempDir;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

#ifdef _WIN32

constexpr const char* kSeparator = "\\";

// Quoted so that the program's CommandLineToArgvW gives the word back as it was.
std::wstring argument(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// This process's environment without the FTP password, plus the assignments.
std::wstring environmentBlock(const std::vector<std::string>& assignments) {
  std::wstring block;
  LPWCH inherited = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = inherited; *entry; entry += std::wcslen(entry) + 1) {
    if (_wcsnicmp(entry, L"KIV_FTP_PASSWORD=", 17) == 0) continue;
    block += entry;
    block += L'\0';
  }
  ::FreeEnvironmentStringsW(inherited);
  for (const std::string& assignment : assignments) {
    block += kiv::winapi::widen(assignment);
    block += L'\0';
  }
  return block + L'\0';
}

HANDLE inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs kivphoto with standard output and error into files and no input, and
// gives its exit status; interrupt() runs while it is going.
template <typename Interrupt>
int runKivphoto(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                const fs::path& out, const fs::path& err, Interrupt interrupt) {
  std::wstring command = argument(kiv::winapi::widen(KIVPHOTO_EXECUTABLE));
  for (const std::string& word : arguments) command += L" " + argument(kiv::winapi::widen(word));
  std::wstring block = environmentBlock(environment);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = inheritable(out.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = inheritable(err.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process{};
  // Under Wine a start now and then fails while the server is busy with
  // other tests' processes; a second try succeeds.
  bool started = false;
  DWORD error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) ::Sleep(500);
    started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, block.data(), nullptr, &startup,
                               &process) != 0;
    if (!started) error = ::GetLastError();
  }
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) ::CloseHandle(handle);
  if (!started) {
    ADD_FAILURE() << "CreateProcessW failed three times, error " << error;
    return -1;
  }
  interrupt(process.dwProcessId);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

int runKivphoto(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                const fs::path& out, const fs::path& err) {
  return runKivphoto(arguments, environment, out, err, [](DWORD) {});
}

#else

constexpr const char* kSeparator = "/";

std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Runs kivphoto with standard output and error into files and no input, and
// gives its exit status (-1 when it did not exit).
int runKivphoto(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                const fs::path& out, const fs::path& err) {
  std::string command = "env -u KIV_FTP_PASSWORD";
  for (const std::string& assignment : environment) command += " " + quoted(assignment);
  command += " " + quoted(KIVPHOTO_EXECUTABLE);
  for (const std::string& argument : arguments) command += " " + quoted(argument);
  command += " >" + quoted(out.string()) + " 2>" + quoted(err.string()) + " </dev/null";
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

#endif

class KivphotoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    servers_.reset();
    kiv::test::writeJpeg(dock_ / "IMG_0001.JPG", 800, 600);
    kiv::test::writeJpeg(dock_ / "IMG_0002.JPG", 800, 600);
    kiv::test::writeJpeg(dock_ / "IMG_0003.JPG", 800, 600);
    fs::create_directories(dock_ / "100CANON");
    kiv::test::writeJpeg(dock_ / "100CANON" / "IMG_0100.JPG", 600, 800);
  }

  // Runs kivphoto with the given environment assignments and arguments; the
  // password variable of the calling environment never leaks in.
  Outcome run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
    const fs::path out = scratch_ / "stdout", err = scratch_ / "stderr";
    Outcome outcome;
    outcome.status = runKivphoto(arguments, environment, out, err);
    outcome.out = kiv::test::readFile(out);
    outcome.err = kiv::test::readFile(err);
    return outcome;
  }

  // The settings that reach the stand-in servers, before the action.
  std::vector<std::string> serverOptions() const {
    return {"--folder", dock_.path().string(), "--vehicle", "1395348", "--company", "12",
            "--web", servers_.webBase(), "--ftp", servers_.ftpHost(), "--ftp-user", servers_.user(),
            "--width", "400", "--height", "300"};
  }
  Outcome runWithServers(std::vector<std::string> tail, bool withPassword = true) {
    std::vector<std::string> arguments = serverOptions();
    arguments.insert(arguments.end(), tail.begin(), tail.end());
    if (!withPassword) return run(arguments);
    return run(arguments, {"KIV_FTP_PASSWORD=" + servers_.password()});
  }

  std::vector<std::string> received() const {
    std::vector<std::string> names;
    const fs::path folder = servers_.ftpRoot() / "12";
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  DealerServers servers_;
  TempDir dock_;
  TempDir scratch_;
};

TEST_F(KivphotoTest, ListNumbersThePhotosInGalleryOrderAndSendsNothing) {
  const Outcome outcome = run({"--folder", dock_.path().string(), "list"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Searching for new photos... 4 photos found.\n"), std::string::npos);
  const std::string listed = "1\tIMG_0001.JPG\n2\tIMG_0002.JPG\n3\tIMG_0003.JPG\n4\t100CANON" +
                             std::string(kSeparator) + "IMG_0100.JPG\n";
  EXPECT_NE(outcome.out.find(listed), std::string::npos) << outcome.out;
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0001.JPG"));
  EXPECT_TRUE(servers_.requests().empty());
}

TEST_F(KivphotoTest, UploadAllSendsEveryPhotoReducedAndEmptiesTheFolder) {
  const Outcome outcome = runWithServers({"upload-all"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(received().size(), 4u);
  EXPECT_EQ(kiv::test::pictureSize(servers_.ftpRoot() / "12" / "V1395348_P1.jpg"), std::make_pair(400, 300));
  EXPECT_TRUE(fs::is_empty(dock_.path()));
  // Not a terminal: one line per status, no carriage returns.
  EXPECT_NE(outcome.out.find("Uploading file 4 of 4.\nSent 4 of 4 photos; 0 are still in the folder.\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_EQ(outcome.out.find('\r'), std::string::npos);
  EXPECT_TRUE(outcome.err.empty()) << outcome.err;
}

TEST_F(KivphotoTest, ASwitchToPassiveModeIsSaidOnceAndEveryPhotoStillGoes) {
  servers_.configure("ftp_active_off=1");
  const Outcome outcome = runWithServers({"upload-all"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(received().size(), 4u);
  EXPECT_EQ(outcome.err, "kivphoto: the FTP server refused active mode; sending in passive mode\n");
}

TEST_F(KivphotoTest, UploadOfASelectionSendsExactlyThosePhotos) {
  const Outcome outcome = runWithServers({"upload", "1,4"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(received().size(), 2u);
  EXPECT_FALSE(fs::exists(dock_ / "IMG_0001.JPG"));
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0002.JPG"));
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0003.JPG"));
  EXPECT_FALSE(fs::exists(dock_ / "100CANON"));
  EXPECT_NE(outcome.out.find("Sent 2 of 2 photos; 2 are still in the folder (2 not asked for).\n"), std::string::npos)
      << outcome.out;
}

TEST_F(KivphotoTest, SelectionBeyondTheListIsRefusedBeforeAnythingIsSent) {
  const Outcome outcome = runWithServers({"upload", "2,5"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("no photo 5"), std::string::npos) << outcome.err;
  EXPECT_TRUE(received().empty());
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0002.JPG"));
}

TEST_F(KivphotoTest, ExpressModeSendsEverythingWhenShown) {
  const Outcome outcome = runWithServers({"--mode", "EXPRESSPHOTOS"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(received().size(), 4u);
  EXPECT_NE(outcome.out.find("Completed."), std::string::npos) << outcome.out;
  EXPECT_FALSE(fs::exists(dock_ / "IMG_0003.JPG"));

  kiv::test::writeJpeg(dock_ / "IMG_0004.JPG", 800, 600);
  const Outcome withAction = runWithServers({"--mode", "expressphotos", "list"});
  EXPECT_EQ(withAction.status, 2);
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0004.JPG"));
}

TEST_F(KivphotoTest, APhotoSentUnreducedIsSaidAndCounted) {
  kiv::test::writeFile(dock_ / "IMG_0002.JPG", "not really a picture");
  const Outcome outcome = runWithServers({"upload", "2,3"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.err.find("kivphoto: IMG_0002.JPG could not be reduced and was sent at its full size"),
            std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.out.find("Sent 2 of 2 photos (1 at full size); 2 are still in the folder (2 not asked for)."),
            std::string::npos)
      << outcome.out;
}

TEST_F(KivphotoTest, SaveWithoutAnActionOnlySavesEvenInExpressMode) {
  const fs::path properties = scratch_ / "kivphoto.properties";
  std::vector<std::string> arguments = serverOptions();
  for (const char* option : {"--mode", "EXPRESSPHOTOS", "--save", "--properties"}) arguments.emplace_back(option);
  arguments.push_back(properties.string());
  const Outcome outcome = run(arguments, {"KIV_FTP_PASSWORD=" + servers_.password()});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(kiv::test::readFile(properties).find("EXPRESSPHOTOS"), std::string::npos);
  EXPECT_TRUE(servers_.requests().empty());
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0001.JPG"));
}

// Ctrl-C (or a termination request) lets the photo in flight finish and keeps the rest.
TEST_F(KivphotoTest, AnInterruptStopsAfterThePhotoInFlight) {
  servers_.configure("delay=1");
  const fs::path err = scratch_ / "stderr";
#ifdef _WIN32
  bool sent = false;
  std::vector<std::string> arguments = serverOptions();
  arguments.push_back("upload-all");
  const int status = runKivphoto(arguments, {"KIV_FTP_PASSWORD=" + servers_.password()}, scratch_ / "stdout", err,
                                 [&](DWORD process) {
                                   ::Sleep(500);
                                   sent = ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process) != 0;
                                   if (sent) return;
                                   if (HANDLE running = ::OpenProcess(PROCESS_TERMINATE, FALSE, process)) {
                                     ::TerminateProcess(running, 255);
                                     ::CloseHandle(running);
                                   }
                                 });
  if (!sent) GTEST_SKIP() << "no console to send Ctrl-Break through (Wine without one); see kivphoto_exe_interrupt";
#else
  std::string command = "env KIV_FTP_PASSWORD=" + quoted(servers_.password()) + " " + quoted(KIVPHOTO_EXECUTABLE);
  for (const std::string& option : serverOptions()) command += " " + quoted(option);
  command += " upload-all >/dev/null 2>" + quoted(err.string()) + " & pid=$!; sleep 0.5; kill -INT $pid; wait $pid";
  const int raw = std::system(command.c_str());
  const int status = WEXITSTATUS(raw);
#endif
  EXPECT_EQ(status, 1) << kiv::test::readFile(err);
  EXPECT_EQ(received().size(), 1u);
  EXPECT_NE(kiv::test::readFile(err).find("the upload was stopped on request"), std::string::npos);
  EXPECT_NE(kiv::test::readFile(err).find("3 of 4 photos were not sent"), std::string::npos);
}

TEST_F(KivphotoTest, RefusedPutKeepsThePhotoAndExitsOne) {
  servers_.configure("ftp_fail_put=1");
  const Outcome outcome = runWithServers({"upload", "2"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("[TREMONA] There has been a communication error"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("IMG_0002.JPG"), std::string::npos) << outcome.err;
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0002.JPG"));
  EXPECT_EQ(kiv::test::pictureSize(dock_ / "IMG_0002.JPG"), std::make_pair(800, 600));
  EXPECT_NE(outcome.err.find("IMG_0002.JPG (the FTP server answered \"5"), std::string::npos) << outcome.err;

  // A server nobody answers at: said once, and the run ends after that photo.
  std::vector<std::string> arguments = serverOptions();
  const auto ftp = std::find(arguments.begin(), arguments.end(), "--ftp");
  *(ftp + 1) = "127.0.0.1:1";
  arguments.push_back("upload-all");
  const Outcome down = run(arguments, {"KIV_FTP_PASSWORD=" + servers_.password()});
  EXPECT_EQ(down.status, 1);
  EXPECT_NE(down.err.find("could not reach the FTP server 127.0.0.1:1"), std::string::npos) << down.err;
  std::size_t boxes = 0;
  for (std::size_t at = 0; (at = down.err.find("communication error", at)) != std::string::npos; ++at) ++boxes;
  EXPECT_EQ(boxes, 1u) << down.err;

  // One number handed out for every photo: the first keeps its name, no
  // other photo is put over it.
  servers_.reset();
  servers_.configure("body=7%7CV_%7CP");
  const Outcome repeated = runWithServers({"upload-all"});
  EXPECT_EQ(repeated.status, 1);
  EXPECT_EQ(received(), std::vector<std::string>{"V_P7.jpg"});
  EXPECT_NE(repeated.err.find("gave photo number 7 a second time"), std::string::npos) << repeated.err;
}

#ifndef _WIN32
TEST_F(KivphotoTest, AFolderAnotherRunIsUploadingIsRefusedAtOnce) {
  const int held = ::open(dock_.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  for (const std::vector<std::string>& tail : {std::vector<std::string>{"upload-all"}, {"--mode", "EXPRESSPHOTOS"}}) {
    const Outcome outcome = runWithServers(tail);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_NE(outcome.err.find("another upload of this photo folder is running"), std::string::npos) << outcome.err;
  }
  ::close(held);
  EXPECT_TRUE(servers_.requests().empty());
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0001.JPG"));
}

TEST_F(KivphotoTest, RunsWithCoreDumpsOff) {
  // Held on the photo-number request long enough to look at the running process.
  servers_.configure("delay=3");
  const fs::path limits = scratch_ / "limits";
  std::string command = "ulimit -c unlimited; env KIV_FTP_PASSWORD=x " + quoted(KIVPHOTO_EXECUTABLE);
  for (const std::string& option : serverOptions()) command += " " + quoted(option);
  command += " upload 1 >/dev/null 2>&1 & pid=$!; sleep 1; grep 'Max core file size' /proc/$pid/limits >" +
             quoted(limits.string()) + "; wait $pid";
  std::system(command.c_str());
  std::istringstream line(kiv::test::readFile(limits));
  std::string max, core, file, size, soft, hard;
  line >> max >> core >> file >> size >> soft >> hard;
  EXPECT_EQ(soft + " " + hard, "0 0") << line.str();
}
#endif

TEST_F(KivphotoTest, BadSettingsExitTwoNamingTheProperty) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--width", "wide", "upload-all"}, "IMAGEWIDTH"},
      {{"--width", "0", "upload-all"}, "IMAGEWIDTH: a photo size must be 1 pixel or more"},
      {{"--height", "-5", "upload-all"}, "IMAGEHEIGHT"},
      {{"--set", "UserID=40000", "upload-all"}, "UserID"},
      {{"--set", "NoSuchProperty=1", "upload-all"}, "NoSuchProperty"},
      {{"--password", "x", "upload-all"}, "KIV_FTP_PASSWORD"},
      {{"upload-all", "--speed", "9"}, "--speed"},
      {{"upload"}, "photo numbers"},
      {{"frobnicate"}, "frobnicate"},
      {{"--folder", (dock_ / "missing").string(), "upload-all"}, "does not exist"},
      {{"upload", "2147483647-2147483647"}, "out of range"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = runWithServers(c.arguments);
    EXPECT_EQ(outcome.status, 2) << c.message;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
  }
  // The control's own vehicle and company are another dealer's: without them
  // photos may be listed, never sent.
  const std::vector<std::string> unnamed = {"--folder", dock_.path().string(), "--web", servers_.webBase(),
                                            "--ftp", servers_.ftpHost()};
  std::vector<std::string> uploadAll = unnamed, list = unnamed;
  uploadAll.push_back("upload-all");
  list.push_back("list");
  const Outcome refused = run(uploadAll, {"KIV_FTP_PASSWORD=" + servers_.password()});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--vehicle (VehicleID) and --company (CompanyID) are given"), std::string::npos)
      << refused.err;
  EXPECT_EQ(run(list).status, 0);
  EXPECT_TRUE(received().empty());
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0001.JPG"));
}

TEST_F(KivphotoTest, PasswordComesFromTheEnvironmentOrAFileAndIsNeverPrinted) {
  const Outcome withoutPassword = runWithServers({"upload", "1"}, false);
  EXPECT_EQ(withoutPassword.status, 1);
  EXPECT_NE(withoutPassword.err.find("the FTP server refused the login for " + servers_.user()), std::string::npos)
      << withoutPassword.err;
  EXPECT_NE(withoutPassword.err.find("warning: no FTP password is set"), std::string::npos) << withoutPassword.err;
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0001.JPG"));

  const Outcome fromEnvironment = runWithServers({"upload", "1"});
  EXPECT_EQ(fromEnvironment.status, 0) << fromEnvironment.err;
  EXPECT_FALSE(fs::exists(dock_ / "IMG_0001.JPG"));

  const fs::path passwordFile = scratch_ / "ftp-password";
  kiv::test::writeFile(passwordFile, servers_.password() + "\n");
  const Outcome fromFile = runWithServers({"--password-file", passwordFile.string(), "upload", "1"}, false);
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;

  for (const Outcome* outcome : {&withoutPassword, &fromEnvironment, &fromFile}) {
    EXPECT_EQ(outcome->out.find(servers_.password()), std::string::npos);
    EXPECT_EQ(outcome->err.find(servers_.password()), std::string::npos);
  }
}

TEST_F(KivphotoTest, SavedPropertiesAreOwnerOnlyAndServeTheNextRun) {
  const fs::path properties = scratch_ / "kivphoto.properties";
  std::vector<std::string> arguments = {"--properties", properties.string()};
  for (const std::string& option : serverOptions()) arguments.push_back(option);
  arguments.push_back("--save");
  const Outcome saved = run(arguments, {"KIV_FTP_PASSWORD=" + servers_.password()});
  EXPECT_EQ(saved.status, 0) << saved.err;
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(properties.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600);
#endif
  EXPECT_TRUE(fs::exists(dock_ / "IMG_0001.JPG"));

  const Outcome next = run({"--properties", properties.string(), "--height", "200", "upload", "3"});
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(received(), std::vector<std::string>{"V1395348_P1.jpg"});
  EXPECT_EQ(kiv::test::pictureSize(servers_.ftpRoot() / "12" / "V1395348_P1.jpg").second, 200);
}

TEST_F(KivphotoTest, BadValueInThePropertyFileExitsTwoNamingTheProperty) {
  const fs::path properties = scratch_ / "kivphoto.properties";
  // A Windows path's backslashes are escapes in the file's quoted text.
  std::string folder;
  for (char c : dock_.path().string()) folder += c == '\\' ? std::string("\\\\") : std::string(1, c);
  kiv::test::writeFile(properties, "FullPath = \"" + folder + "\"\nIMAGEHEIGHT = \"tall\"\n");
  const Outcome outcome = run({"--properties", properties.string(), "list"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("IMAGEHEIGHT"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find(properties.string()), std::string::npos) << outcome.err;
}

TEST(KivphotoUsageTest, HelpAndVersionExitZero) {
  TempDir scratch;
  const fs::path out = scratch / "out", err = scratch / "err";
  EXPECT_EQ(runKivphoto({"--help"}, {}, out, err), 0);
  EXPECT_NE(kiv::test::readFile(out).find("upload-all"), std::string::npos);
  EXPECT_EQ(runKivphoto({"--version"}, {}, out, err), 0);
  EXPECT_EQ(kiv::test::readFile(out).rfind("kivphoto ", 0), 0u);
}

}  // namespace
