// The installed kivphoto-desktop on a private X server, driven as a user drives
// it: pointer and keys through xdotool, the screen read back with ImageMagick.
#include "support/dealer_servers.hpp"
#include "support/photos.hpp"
#include "support/temp_dir.hpp"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kiv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The control's fixed layout in window pixels (its twips / 15).
struct Box {
  int x, y, w, h;
  QPoint center() const { return {x + w / 2, y + h / 2}; }
};
constexpr Box kFrame{192, 80, 329, 369};
constexpr Box kUploadSelected{192, 464, 126, 18};
constexpr Box kUploadAll{328, 464, 60, 18};
constexpr Box kCancel{400, 464, 47, 18};
constexpr Box kBlank{40, 300, 1, 1};  // no child control here: the window's own pointer shows
constexpr int kCellTwips = 1625, kRowTwips = 1870;
// Photo i sits in column i % 3, row i / 3 of the frame, its check box under it.
Box thumbnail(int i) {
  return {kFrame.x + (5 + i % 3 * kCellTwips) / 15, kFrame.y + (5 + i / 3 * kRowTwips) / 15, 105, 97};
}
Box checkBox(int i) {
  return {kFrame.x + (5 + i % 3 * kCellTwips) / 15, kFrame.y + (1510 + i / 3 * kRowTwips) / 15, 105, 21};
}
// The first row of the gallery: it moves whenever the gallery scrolls.
constexpr Box kTopRow{kFrame.x + 2, kFrame.y + 2, 320, 120};

// Defined at the end of the file, away from the macros of the X headers.
bool requestClose(const std::string& window);
struct Pointer {
  QImage image;
  QPoint topLeft;
};
Pointer currentPointer();

class Process {
 public:
  Process(const std::vector<std::string>& argv, const fs::path& output, const std::vector<std::string>& env = {}) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      auto name = entry.substr(0, entry.find('='));
      if (std::none_of(env.begin(), env.end(), [&](const std::string& s) { return s.rfind(name + "=", 0) == 0; }))
        environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() { kill(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  bool running() { return pid_ > 0 && !wait(0ms); }
  // The exit status (128 + signal when killed), or nothing if still running after timeout.
  std::optional<int> wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return 127;
    if (status_) return status_;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
      }
      if (Clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(20ms);
    }
  }
  // Asks first: an X server killed outright leaves its lock file behind.
  void kill() {
    if (pid_ <= 0 || status_) return;
    ::kill(pid_, SIGTERM);
    if (wait(5s)) return;
    ::kill(pid_, SIGKILL);
    wait(5s);
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct Run {
  int status;
  std::string out;
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) result.push_back(line);
    return result;
  }
};

std::string contents(const fs::path& file) { return fs::exists(file) ? readFile(file) : std::string(); }

fs::path scratch() {
  static TempDir dir;
  return dir.path();
}

Run run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 20s) {
  const fs::path out = scratch() / "run.out";
  Process process(argv, out);
  const auto status = process.wait(timeout);
  process.kill();
  return {status.value_or(-1), contents(out)};
}

bool onPath(const std::string& program) {
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string dir; std::getline(path, dir, ':');)
    if (::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  return false;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                std::chrono::milliseconds pause = 150ms) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
  }
}

bool differ(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return true;
  int changed = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
      changed += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) > 30;
    }
  }
  return changed > 40;  // more than a caret or a focus frame
}

int linesWith(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

class DesktopX11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"Xvfb", "xdotool", "import"})
      if (!onPath(tool)) missing_ += std::string(missing_.empty() ? "" : ", ") + tool;
    if (missing_.empty()) startServer();
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!missing_.empty()) {
      if (std::getenv("KIV_SKIP_X11_WITHOUT_TOOLS")) GTEST_SKIP() << "missing " << missing_;
      FAIL() << "missing " << missing_ << " (scripts/bootstrap installs them)";
    }
    ASSERT_TRUE(server_) << "no X server could be started:\n" << contents(scratch() / "xvfb.log");
    servers_.reset();
    fs::create_directories(dock_);
  }
  void TearDown() override {
    if (app_ && app_->running()) {
      std::cerr << "kivphoto-desktop still running; its output:\n" << contents(tmp_ / "desktop.log");
      app_->kill();
    }
  }

  static void startServer() {
    for (int attempt = 0, n = 90 + ::getpid() % 100; attempt < 8 && !server_; ++attempt, ++n) {
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (fs::exists(lock) || fs::exists(socket)) continue;
      auto server = std::make_unique<Process>(
          std::vector<std::string>{"Xvfb", ":" + std::to_string(n), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
          scratch() / "xvfb.log");
      // Another server may take the number first: ours must hold the lock.
      const bool ready = eventually(
          [&] {
            if (!server->running()) return true;
            std::ifstream in(lock);
            pid_t holder = 0;
            return in >> holder && holder == server->pid() && accepts(socket);
          },
          10s, 50ms);
      if (ready && server->running()) {
        server_ = std::move(server);
        display_ = ":" + std::to_string(n);
        ::setenv("DISPLAY", display_.c_str(), 1);
      }
    }
  }
  static bool accepts(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
  }

  // Photos turned differently (by their orientation tag) look different in the
  // grid, so a scrolled gallery never looks like the unscrolled one.
  void photos(int count) {
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
      constexpr int kTurns[] = {1, 3, 6, 8};
      writeJpeg(dock_ / name, 400, 300, kTurns[i % 4]);
    }
  }

  void start() {
    app_ = std::make_unique<Process>(
        std::vector<std::string>{KIV_X11_PREFIX "/bin/kivphoto-desktop", "--folder", dock_.string(), "--vehicle",
                                 "41", "--company", "7", "--web", servers_.webBase(), "--ftp", servers_.ftpHost(),
                                 "--ftp-user", servers_.user(), "--width", "640", "--height", "480"},
        tmp_ / "desktop.log", std::vector<std::string>{"KIV_FTP_PASSWORD=" + servers_.password(), "QT_QPA_PLATFORM=xcb"});
    ASSERT_GT(app_->pid(), 0);
    const auto found = run({"xdotool", "search", "--sync", "--onlyvisible", "--all", "--pid",
                            std::to_string(app_->pid()), "--name", "^kivPhotoUpload"}).lines();
    ASSERT_FALSE(found.empty()) << "no window; output:\n" << contents(tmp_ / "desktop.log");
    window_ = found.front();
    for (const auto& line : run({"xdotool", "getwindowgeometry", "--shell", window_}).lines()) {
      if (line.rfind("X=", 0) == 0) origin_.setX(std::stoi(line.substr(2)));
      if (line.rfind("Y=", 0) == 0) origin_.setY(std::stoi(line.substr(2)));
    }
  }

  // Waits until the first `count` thumbnails are drawn (photos are never white).
  void waitForGallery(int count) {
    const bool drawn = eventually(
        [&] {
          const QImage shot = screen();
          for (int i = 0; i < count; ++i) {
            const QPoint c = origin_ + thumbnail(i).center();
            if (shot.isNull() || shot.pixelColor(c).lightness() > 240) return false;
          }
          return true;
        },
        20s);
    ASSERT_TRUE(drawn) << "the gallery did not show; output:\n" << contents(tmp_ / "desktop.log");
  }

  QImage screen() const {
    const fs::path file = scratch() / "screen.png";
    run({"import", "-window", "root", "PNG:" + file.string()});
    return QImage(QString::fromStdString(file.string()));
  }
  static void keep(const QImage& shot, const std::string& what) {
    const fs::path dir = KIV_SCREENSHOT_DIR;
    fs::create_directories(dir);
    EXPECT_TRUE(shot.save(QString::fromStdString((dir / ("x11_" + what + ".png")).string())));
  }
  QImage part(const QImage& shot, const Box& b) const { return shot.copy(origin_.x() + b.x, origin_.y() + b.y, b.w, b.h); }

  void moveTo(QPoint p) const {
    run({"xdotool", "mousemove", "--sync", "--window", window_, std::to_string(p.x()), std::to_string(p.y())});
  }
  void click(QPoint p, int times = 1) const {
    moveTo(p);
    run({"xdotool", "click", "--repeat", std::to_string(times), "--delay", "60", "1"});
  }
  void key(const std::string& name) const {
    run({"xdotool", "windowfocus", "--sync", window_});
    run({"xdotool", "key", name});
  }
  std::vector<std::string> windows() const {
    return run({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(app_->pid())}).lines();
  }

  // Waits for the program to end by itself; answers and counts the message
  // boxes that show meanwhile.
  std::optional<int> waitForExit(std::chrono::seconds limit, int& boxes) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      if (auto status = app_->wait(200ms)) return status;
      const auto shown = windows();
      for (const auto& box : shown) {
        if (box == window_) continue;
        ++boxes;
        keep(screen(), "unexpected_message");
        run({"xdotool", "windowfocus", "--sync", box});
        run({"xdotool", "key", "Return"});
      }
    }
    return std::nullopt;
  }
  std::optional<int> close() {
    if (!app_->running()) return app_->wait(0ms);
    int boxes = 0;
    for (const auto& box : windows()) {
      if (box == window_) continue;
      run({"xdotool", "windowfocus", "--sync", box});
      run({"xdotool", "key", "Return"});
    }
    EXPECT_TRUE(requestClose(window_));
    return waitForExit(15s, boxes);
  }

  void stopDuringUpload(bool byCancel, const std::string& what);

  static inline std::string missing_;
  static inline std::unique_ptr<Process> server_;
  static inline std::string display_;

  DealerServers servers_;
  TempDir tmp_;
  fs::path dock_ = tmp_ / "dock";
  std::unique_ptr<Process> app_;
  std::string window_;
  QPoint origin_;
};

TEST_F(DesktopX11Test, GalleryShowsAndTheWheelOverThePhotosScrollsIt) {
  photos(12);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(waitForGallery(9));
  const QImage before = screen();
  keep(before, "gallery");

  moveTo(thumbnail(4).center());
  run({"xdotool", "click", "--repeat", "3", "--delay", "60", "5"});
  const bool scrolled = eventually([&] { return differ(part(screen(), kTopRow), part(before, kTopRow)); }, 5s);
  keep(screen(), "wheel");
  EXPECT_TRUE(scrolled) << "the wheel over the photos did not scroll the gallery";

  EXPECT_EQ(close(), 0);
  EXPECT_EQ(filesUnder(dock_).size(), 12u);
}

TEST_F(DesktopX11Test, TwoTickedPhotosAndAQuickDoubleClickSendExactlyThoseTwo) {
  photos(5);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(waitForGallery(5));
  for (int i : {0, 2}) {
    const QImage before = screen();
    const Box box = checkBox(i);
    click({box.x + 8, box.y + box.h / 2});
    ASSERT_TRUE(eventually([&] { return differ(part(screen(), box), part(before, box)); }, 5s))
        << "box " << i + 1 << " not ticked";
  }
  click(kUploadSelected.center(), 2);

  int boxes = 0;
  const auto status = waitForExit(40s, boxes);
  ASSERT_TRUE(status) << "the window did not close after the upload";
  EXPECT_EQ(*status, 0) << contents(tmp_ / "desktop.log");
  EXPECT_EQ(boxes, 0) << "a message box showed";
  EXPECT_EQ(linesWith(servers_.requests(), "VBstorePhoto"), 2);
  EXPECT_EQ(filesUnder(dock_), (std::set<std::string>{"IMG_0002.jpg", "IMG_0004.jpg", "IMG_0005.jpg"}));
}

void DesktopX11Test::stopDuringUpload(bool byCancel, const std::string& what) {
  servers_.configure("delay=2");
  photos(6);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(waitForGallery(6));
  moveTo(kBlank.center());
  const Pointer idle = currentPointer();

  click(kUploadAll.center());
  moveTo(kBlank.center());
  ASSERT_TRUE(eventually([&] { return linesWith(servers_.requests(), "VBstorePhoto") > 0; }, 15s))
      << "no photo number was asked for";
  if (byCancel) {
    click(kCancel.center());
    moveTo(kBlank.center());
  } else {
    key("Escape");
  }
  std::this_thread::sleep_for(500ms);  // time to draw the stopping state; the photo in flight needs seconds
  QImage shot = screen();
  const Pointer busy = currentPointer();
  {
    QPainter painter(&shot);
    painter.drawImage(busy.topLeft, busy.image);
  }
  keep(shot, what);
  EXPECT_TRUE(busy.image != idle.image) << "no busy pointer while stopping";

  int boxes = 0;
  const auto status = waitForExit(40s, boxes);
  ASSERT_TRUE(status) << "the window did not close after stopping";
  EXPECT_EQ(*status, 1) << "some asked photos were not sent";
  EXPECT_EQ(boxes, 0) << "a message box showed";
  const auto requests = servers_.requests();
  const int stored = linesWith(requests, "FTP STOR");
  EXPECT_LE(linesWith(requests, "VBstorePhoto"), 2);
  EXPECT_GE(stored, 1) << "the photo in flight was not finished";
  EXPECT_LE(stored, 2) << "the run went on after the photo in flight";
  EXPECT_EQ(filesUnder(dock_).size(), static_cast<std::size_t>(6 - stored));
}

TEST_F(DesktopX11Test, EscapeDuringAnUploadStopsAfterThePhotoInFlight) { stopDuringUpload(false, "stopping"); }

TEST_F(DesktopX11Test, CancelDuringAnUploadStopsAfterThePhotoInFlight) { stopDuringUpload(true, "stopping_cancel"); }

TEST_F(DesktopX11Test, UploadSelectedWithNothingTickedKeepsTheWindowOpen) {
  photos(3);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(waitForGallery(3));
  const QImage before = screen();
  click(kUploadSelected.center());
  std::this_thread::sleep_for(2s);
  const QImage after = screen();
  keep(after, "nothing_ticked");
  ASSERT_TRUE(app_->running()) << "the window closed";
  EXPECT_TRUE(differ(part(after, {0, 0, 732, 556}), part(before, {0, 0, 732, 556}))) << "no message shown";
  EXPECT_EQ(close(), 0);
  EXPECT_EQ(filesUnder(dock_).size(), 3u);
  EXPECT_EQ(linesWith(servers_.requests(), "VBstorePhoto"), 0);
}

TEST_F(DesktopX11Test, TabToABoxBelowTheFrameScrollsItIntoView) {
  photos(12);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(waitForGallery(9));
  // Focus on photo 9, the last fully shown; then its box, photo 10 and box 10 follow.
  click(thumbnail(8).center());
  const QImage before = screen();
  for (int i = 0; i < 3; ++i) key("Tab");
  key("space");
  const bool scrolled = eventually([&] { return differ(part(screen(), kTopRow), part(before, kTopRow)); }, 5s);
  keep(screen(), "tab_scroll");
  EXPECT_TRUE(scrolled) << "the gallery did not follow the focus";
  EXPECT_EQ(close(), 0);
}

}  // namespace
}  // namespace kiv::test

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace kiv::test {
namespace {

// What a window manager sends when the user closes a window.
bool requestClose(const std::string& window) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = std::stoul(window);
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  // A window gone meanwhile must not end the test through Xlib's default handler.
  static bool failed;
  failed = false;
  XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) {
    failed = true;
    return 0;
  });
  const bool sent = XSendEvent(display, event.xclient.window, False, NoEventMask, &event) != 0;
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return sent && !failed;
}

// The screen grab leaves the pointer out; the X server tells its picture.
Pointer currentPointer() {
  Pointer pointer;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return pointer;
  if (XFixesCursorImage* cursor = XFixesGetCursorImage(display)) {
    QImage image(cursor->width, cursor->height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < cursor->height; ++y)
      for (int x = 0; x < cursor->width; ++x)
        image.setPixel(x, y, static_cast<QRgb>(cursor->pixels[y * cursor->width + x]));
    pointer.image = image;
    pointer.topLeft = QPoint(cursor->x - cursor->xhot, cursor->y - cursor->yhot);
    XFree(cursor);
  }
  XCloseDisplay(display);
  return pointer;
}

}  // namespace
}  // namespace kiv::test
