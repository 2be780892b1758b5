#include "window.hpp"

#include <control/upload.hpp>
#include <platform/internet/internet.hpp>

#include "support/dealer_servers.hpp"
#include "support/photos.hpp"
#include "support/temp_dir.hpp"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace kiv::desktop {
namespace {

// The window's own status line, under the control's surface.
constexpr int kStatusStrip = 24;

QApplication& application() {
  static int argc = 1;
  static char name[] = "desktop_window_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: tearing Qt down after gtest's own teardown is not worth it.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

std::set<std::string> filesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) names.insert(std::filesystem::relative(entry.path(), folder).string());
  }
  return names;
}

QRect pixelRect(const host::Control& c, float scale) {
  auto px = [scale](float v) { return static_cast<int>(std::lround(v / scale)); };
  return QRect(QPoint(px(c.Left), px(c.Top)), QPoint(px(c.Left + c.Width) - 1, px(c.Top + c.Height) - 1));
}

struct DesktopWindowTest : ::testing::Test {
  test::TempDir tmp;
  std::filesystem::path dock = tmp / "dock";
  std::vector<std::string> messages;

  void SetUp() override {
    application();
    std::filesystem::create_directories(dock);
  }
  void photos(int count) {
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
      test::writeJpeg(dock / name, i % 3 == 2 ? 300 : 400, i % 3 == 2 ? 400 : 300);
    }
  }
  std::unique_ptr<Window> open(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--folder", dock.string()});
    auto window = std::make_unique<Window>(app::parseOptions(app::Program::Desktop, args));
    window->messageBox = [this](const QString& prompt, int, const QString&) {
      messages.push_back(prompt.toStdString());
      return 1;
    };
    window->show();
    EXPECT_TRUE(window->waitIdle());
    return window;
  }
  static QWidget& view(Window& w, const std::string& key) {
    QWidget* found = w.view(key);
    if (!found) throw std::runtime_error("no view " + key);
    return *found;
  }
  static void click(QWidget& widget) {
    QTest::mouseClick(&widget, Qt::LeftButton, {}, widget.rect().center());
  }
  static QRect scrollPart(QScrollBar& bar, QStyle::SubControl part) {
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.singleStep = bar.singleStep();
    option.pageStep = bar.pageStep();
    option.subControls = QStyle::SC_All;
    return bar.style()->subControlRect(QStyle::CC_ScrollBar, &option, part, &bar);
  }
};

TEST_F(DesktopWindowTest, ShowsTheGalleryWhereTheSurfacePlacesIt) {
  photos(10);
  auto w = open();
  EXPECT_EQ(w->size(), QSize(732, 556 + kStatusStrip));
  w->runOnControl([&](Upload& u) {
    ASSERT_EQ(u.Image2.Count(), 10);
    QWidget& frame = view(*w, "Frame1");
    EXPECT_EQ(frame.geometry(), pixelRect(u.Frame1, 1));
    for (std::int16_t i = 0; i < 10; ++i) {
      QWidget& thumb = view(*w, "Image2[" + std::to_string(i) + "]");
      QWidget& box = view(*w, "chkSelect[" + std::to_string(i) + "]");
      EXPECT_EQ(thumb.parentWidget(), &frame);
      EXPECT_EQ(thumb.geometry(), pixelRect(u.Image2[i], 15)) << i;
      EXPECT_EQ(box.geometry(), pixelRect(u.chkSelect[i], 15)) << i;
      EXPECT_EQ(thumb.isVisibleTo(w.get()), u.Image2[i].Visible);
    }
    for (const char* name : {"VScroll1", "imgCancel", "imgUploadAll", "imgSelectedPhotos", "Label4", "Label1"}) {
      EXPECT_TRUE(view(*w, name).isVisibleTo(w.get())) << name;
    }
    EXPECT_FALSE(view(*w, "Label5").isVisibleTo(w.get()));
    EXPECT_EQ(view(*w, "imgSelectedPhotos").geometry(), pixelRect(u.imgSelectedPhotos, 1));
    EXPECT_EQ(view(*w, "Label1").accessibleName().toStdString(), u.Label1.Caption);
  });
  EXPECT_TRUE(messages.empty());
}

TEST_F(DesktopWindowTest, ClickOnAThumbnailFillsTheEnlargedView) {
  photos(4);
  auto w = open();
  click(view(*w, "Image2[2]"));
  ASSERT_TRUE(w->waitIdle());
  QWidget& zoom = view(*w, "imgZoom");
  EXPECT_EQ(zoom.size(), QSize(180, 120));
  w->runOnControl([&](Upload& u) { EXPECT_EQ(u.imgZoom.Picture, u.Image2[2].Picture); });
  QImage shown = zoom.grab().toImage();
  QColor middle = shown.pixelColor(shown.width() / 2, shown.height() / 2);
  EXPECT_NE(middle, QColor(Qt::white)) << "the photo is drawn in the view";
}

TEST_F(DesktopWindowTest, DraggingTheScrollBarMovesTheGridAndArrowsTrackAndWheelStep) {
  photos(12);
  auto w = open();
  auto& bar = static_cast<QScrollBar&>(view(*w, "VScroll1"));
  ASSERT_TRUE(bar.isVisibleTo(w.get()));
  EXPECT_EQ(bar.maximum(), 3 * 1455);
  EXPECT_EQ(bar.singleStep(), 275);
  EXPECT_EQ(bar.pageStep(), 300);
  QWidget& firstThumb = view(*w, "Image2[0]");
  const int homeY = firstThumb.y();

  QPoint grip = scrollPart(bar, QStyle::SC_ScrollBarSlider).center();
  QTest::mousePress(&bar, Qt::LeftButton, {}, grip);
  QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(0, 60)), bar.mapToGlobal(QPointF(grip + QPoint(0, 60))),
                   Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(&bar, &move);
  ASSERT_TRUE(w->waitIdle());
  const int dragged = bar.value();
  ASSERT_GT(dragged, 0);
  EXPECT_LT(firstThumb.y(), homeY) << "the grid follows the thumb while it is dragged";
  QTest::mouseRelease(&bar, Qt::LeftButton, {}, grip + QPoint(0, 60));
  ASSERT_TRUE(w->waitIdle());
  w->runOnControl([&](Upload& u) {
    EXPECT_EQ(u.VScroll1.Value, dragged);
    EXPECT_FLOAT_EQ(u.Image2[0].Top, 5.0f - static_cast<float>(dragged));
    EXPECT_EQ(firstThumb.geometry(), pixelRect(u.Image2[0], 15));
  });

  bar.setValue(0);
  ASSERT_TRUE(w->waitIdle());
  QTest::mouseClick(&bar, Qt::LeftButton, {}, scrollPart(bar, QStyle::SC_ScrollBarAddLine).center());
  ASSERT_TRUE(w->waitIdle());
  w->runOnControl([&](Upload& u) { EXPECT_EQ(u.VScroll1.Value, 275); });
  QRect track = scrollPart(bar, QStyle::SC_ScrollBarAddPage);
  QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(track.center().x(), track.bottom() - 2));
  ASSERT_TRUE(w->waitIdle());
  w->runOnControl([&](Upload& u) {
    EXPECT_EQ(u.VScroll1.Value, 575);
    EXPECT_FLOAT_EQ(u.chkSelect[0].Top, 1510.0f - 575.0f);
  });

  // A wheel over the photos turns the scroll bar, down over a thumbnail and back up over a box.
  auto wheel = [&](QWidget& over, int delta) {
    QPointF at = over.rect().center();
    QWheelEvent event(at, over.mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&over, &event);
    EXPECT_TRUE(event.isAccepted());
    EXPECT_TRUE(w->waitIdle());
  };
  wheel(firstThumb, -120);
  const int wheeled = bar.value();
  EXPECT_GT(wheeled, 575);
  w->runOnControl([&](Upload& u) { EXPECT_FLOAT_EQ(u.Image2[0].Top, 5.0f - static_cast<float>(wheeled)); });
  wheel(view(*w, "chkSelect[1]"), 120);
  EXPECT_EQ(bar.value(), 575);
  w->runOnControl([&](Upload& u) { EXPECT_EQ(u.VScroll1.Value, 575); });
  EXPECT_TRUE(messages.empty());
}

TEST_F(DesktopWindowTest, CancelClosesTheWindowAndLeavesThePhotos) {
  photos(2);
  auto w = open();
  click(view(*w, "imgCancel"));
  ASSERT_TRUE(w->waitIdle());
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(filesIn(dock).size(), 2u);
}

TEST_F(DesktopWindowTest, TickingTwoBoxesAndUploadingSelectedSendsExactlyThoseTwo) {
  test::DealerServers servers;
  servers.reset();
  photos(5);
  auto w = open({"--vehicle", "41", "--company", "7", "--web", servers.webBase(), "--ftp", servers.ftpHost(),
                 "--ftp-user", servers.user(), "--set", "KIVPassword=" + servers.password()});
  click(view(*w, "chkSelect[1]"));
  click(view(*w, "chkSelect[3]"));
  ASSERT_TRUE(w->waitIdle());
  w->runOnControl([&](Upload& u) {
    EXPECT_EQ(u.chkSelect[1].Value, 1);
    EXPECT_EQ(u.chkSelect[3].Value, 1);
    EXPECT_EQ(u.chkSelect[0].Value, 0);
  });
  // A double click: the second click finds the commands resting and is dropped.
  click(view(*w, "imgSelectedPhotos"));
  EXPECT_TRUE(w->uploading());
  for (const char* key : {"imgSelectedPhotos", "imgUploadAll", "chkSelect[0]", "Image2[0]"})
    EXPECT_FALSE(view(*w, key).isEnabled()) << key;
  EXPECT_TRUE(view(*w, "imgCancel").isEnabled());
  click(view(*w, "imgSelectedPhotos"));
  ASSERT_TRUE(w->waitIdle());
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(filesIn(dock), (std::set<std::string>{"IMG_0001.jpg", "IMG_0003.jpg", "IMG_0005.jpg"}));
  EXPECT_EQ(filesIn(servers.ftpRoot()).size(), 2u);
  int stores = 0, numbers = 0;
  for (const auto& line : servers.requests()) {
    stores += line.rfind("FTP STOR", 0) == 0;
    numbers += line.find("VBstorePhoto") != std::string::npos;
  }
  EXPECT_EQ(stores, 2);
  EXPECT_EQ(numbers, 2);
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_EQ(w->exitStatus(), 0);

  // After the window: kivphoto's summary, and a log without the password.
  ::setenv("XDG_STATE_HOME", (tmp / "state").c_str(), 1);
  testing::internal::CaptureStdout();
  w->reportRun();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Sent 2 of 2 photos; 3 are still in the folder (3 not asked for).\n");
  const std::string log = test::readFile(tmp / "state" / "kivPhotoUpload" / "last-run.log");
  EXPECT_NE(log.find("Vehicle 41, company 7\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Sent 2 of 2 photos"), std::string::npos) << log;
  EXPECT_EQ(log.find(servers.password()), std::string::npos) << log;
  ::unsetenv("XDG_STATE_HOME");
}

TEST_F(DesktopWindowTest, UploadWithNothingTickedOrNoVehicleGivenSendsNothingAndSaysWhy) {
  test::DealerServers servers;
  servers.reset();
  photos(2);
  auto w = open({"--web", servers.webBase()});
  click(view(*w, "imgSelectedPhotos"));
  ASSERT_TRUE(w->waitIdle());
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->status(), "Tick the photos to send first.");

  click(view(*w, "imgUploadAll"));
  ASSERT_TRUE(w->waitIdle());
  EXPECT_TRUE(w->status().contains("--vehicle (VehicleID)")) << w->status().toStdString();
  EXPECT_TRUE(w->findChild<QPushButton*>("close")->isVisible());
  const auto* status = w->findChild<QLabel*>("status");
  EXPECT_GT(status->heightForWidth(status->width()), 24) << "a long error wraps";
  EXPECT_GE(status->height(), status->heightForWidth(status->width())) << "and can be read whole";
  EXPECT_TRUE(servers.requests().empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(filesIn(dock).size(), 2u);
}

TEST_F(DesktopWindowTest, CancelEscapeOrCloseDuringAnUploadStopAfterThePhotoInFlight) {
  test::DealerServers servers;
  for (const char* way : {"Cancel", "Escape", "close"}) {
    servers.reset();
    servers.configure("delay=1");
    std::filesystem::remove_all(dock);
    std::filesystem::create_directories(dock);
    photos(4);
    auto w = open({"--vehicle", "41", "--company", "7", "--web", servers.webBase(), "--ftp", servers.ftpHost(),
                   "--ftp-user", servers.user(), "--set", "KIVPassword=" + servers.password()});
    click(view(*w, "imgUploadAll"));
    QTest::qWait(300);  // the first photo's number is being asked for
    if (std::string(way) == "Cancel") click(view(*w, "imgCancel"));
    else if (std::string(way) == "Escape") QTest::keyClick(w.get(), Qt::Key_Escape);
    else w->close();
    EXPECT_EQ(w->status(), "Stopping after the photo being sent...") << way;
    ASSERT_TRUE(w->waitIdle());
    EXPECT_FALSE(w->isVisible()) << way;
    EXPECT_EQ(filesIn(dock).size(), 3u) << way;
    EXPECT_EQ(filesIn(servers.ftpRoot()).size(), 1u) << way;
    EXPECT_EQ(w->exitStatus(), 1) << way;
    EXPECT_TRUE(messages.empty()) << way;
  }
}

TEST_F(DesktopWindowTest, ASwitchToPassiveModeIsShownInTheStatusStrip) {
  test::DealerServers servers;
  servers.reset();
  net::forgetFtpModesForTesting();
  // Each web answer held a second, so the notice can be seen before the end.
  servers.configure("ftp_active_off=1&delay=1");
  photos(2);
  auto w = open({"--vehicle", "41", "--company", "7", "--web", servers.webBase(), "--ftp", servers.ftpHost(),
                 "--ftp-user", servers.user(), "--set", "KIVPassword=" + servers.password()});
  click(view(*w, "imgUploadAll"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->status().contains("passive"); }, 10000));
  EXPECT_EQ(w->status().toStdString(),
            "The FTP server refused active mode; sending in passive mode. Cancel or Escape stops after the photo "
            "being sent.");
  const auto shot = std::filesystem::path(KIV_SCREENSHOT_FILE).parent_path() / "desktop_passive_notice.png";
  std::filesystem::create_directories(shot.parent_path());
  EXPECT_TRUE(w->grab().save(QString::fromStdString(shot.string())));
  ASSERT_TRUE(w->waitIdle());
  EXPECT_EQ(filesIn(servers.ftpRoot()).size(), 2u);
  EXPECT_TRUE(messages.empty());
  net::forgetFtpModesForTesting();
}

TEST_F(DesktopWindowTest, AFailedPutShowsTheMessageWhileTheWindowHoldsTheLastRepaint) {
  test::DealerServers servers;
  servers.reset();
  servers.configure("ftp_fail_put=1");
  photos(1);
  auto w = open({"--vehicle", "41", "--company", "7", "--web", servers.webBase(), "--ftp", servers.ftpHost(),
                 "--ftp-user", servers.user(), "--set", "KIVPassword=" + servers.password()});
  std::string statusWhileAsked;
  w->messageBox = [&](const QString& prompt, int, const QString&) {
    messages.push_back(prompt.toStdString());
    statusWhileAsked = dynamic_cast<ControlView&>(view(*w, "Label2")).state().caption;
    EXPECT_TRUE(w->busy());
    EXPECT_FALSE(w->grab().isNull()) << "the window paints while the control waits";
    return 1;
  };
  click(view(*w, "imgUploadAll"));
  ASSERT_TRUE(w->waitIdle());
  servers.configure("ftp_fail_put=0");
  ASSERT_EQ(messages.size(), 1u);
  // The status was set but not yet repainted: the window shows the last repaint.
  EXPECT_EQ(statusWhileAsked, "");
  EXPECT_EQ(filesIn(dock).size(), 1u) << "a photo that was not sent stays";
}

TEST_F(DesktopWindowTest, KeyboardFollowsTheTabOrderTicksWithSpaceAndPressesWithEnter) {
  photos(12);
  auto w = open();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  QWidget& box0 = view(*w, "chkSelect[0]");
  box0.setFocus();
  QTest::keyClick(&box0, Qt::Key_Space);
  ASSERT_TRUE(w->waitIdle());
  w->runOnControl([&](Upload& u) { EXPECT_EQ(u.chkSelect[0].Value, 1); });
  EXPECT_EQ(box0.nextInFocusChain(), &view(*w, "Image2[1]"));
  EXPECT_EQ(view(*w, "Image2[1]").nextInFocusChain(), &view(*w, "chkSelect[1]"));
  EXPECT_EQ(view(*w, "imgSelectedPhotos").nextInFocusChain(), &view(*w, "imgUploadAll"));
  for (const char* key : {"Image2[0]", "chkSelect[2]", "VScroll1", "imgZoom", "imgCancel", "Frame1"})
    EXPECT_FALSE(view(*w, key).accessibleName().isEmpty()) << key;

  // Tab onto a box below the frame, then Backtab onto one above it: each is scrolled fully into view.
  QWidget& frame = view(*w, "Frame1");
  auto& bar = static_cast<QScrollBar&>(view(*w, "VScroll1"));
  QWidget& lastBox = view(*w, "chkSelect[11]");
  ASSERT_FALSE(frame.rect().contains(lastBox.geometry()));
  view(*w, "Image2[11]").setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_TRUE(w->waitIdle());
  EXPECT_TRUE(lastBox.hasFocus());
  EXPECT_TRUE(frame.rect().contains(lastBox.geometry()));
  w->runOnControl([&](Upload& u) { EXPECT_EQ(u.VScroll1.Value, bar.value()); });
  bar.setValue(bar.maximum());
  ASSERT_TRUE(w->waitIdle());
  ASSERT_FALSE(frame.rect().contains(box0.geometry()));
  view(*w, "Image2[1]").setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  ASSERT_TRUE(w->waitIdle());
  EXPECT_TRUE(box0.hasFocus());
  EXPECT_TRUE(frame.rect().contains(box0.geometry()));

  // Focus shows as a highlight-coloured edge; a disabled picture is drawn faded.
  auto edgeIsHighlight = [](QWidget& widget) {
    QImage shot = widget.grab().toImage();
    return shot.pixelColor(0, shot.height() / 2) == widget.palette().color(QPalette::Highlight);
  };
  for (const char* key : {"imgUploadAll", "VScroll1", "chkSelect[0]"}) {
    view(*w, key).setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(edgeIsHighlight(view(*w, key))) << key;
  }
  QWidget& upload = view(*w, "imgUploadAll");
  EXPECT_FALSE(edgeIsHighlight(view(*w, "imgCancel")));
  const QImage enabled = upload.grab().toImage();
  upload.setEnabled(false);
  EXPECT_NE(upload.grab().toImage(), enabled);
  upload.setEnabled(true);

  QTest::keyClick(&view(*w, "imgCancel"), Qt::Key_Return);
  ASSERT_TRUE(w->waitIdle());
  EXPECT_FALSE(w->isVisible());
}

TEST_F(DesktopWindowTest, ThePropertyFileIsWrittenOnlyWithSaveAndADamagedOneStopsEverything) {
  auto file = tmp / "control.properties";
  photos(2);
  open({"--properties", file.string(), "--vehicle", "77"})->close();
  EXPECT_FALSE(std::filesystem::exists(file)) << "one-off settings are not saved unasked";
  {
    auto w = open({"--properties", file.string(), "--vehicle", "77", "--width", "1024", "--save"});
    EXPECT_EQ(w->windowTitle().toStdString(), "kivPhotoUpload - vehicle 77 - " + dock.string() + " - kivftp");
    w->close();
  }
  EXPECT_NE(test::readFile(file).find("VehicleID = 77"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);
  open({"--properties", file.string()})->runOnControl([](Upload& u) { EXPECT_EQ(u.IMAGEWIDTH(), 1024); });

  const std::string damaged = "IMAGEWIDTH = \"wide\"\n";
  test::writeFile(file, damaged);
  auto w = open({"--properties", file.string(), "--save"});
  EXPECT_EQ(w->status().toStdString(),
            "property file " + file.string() + ", line 1: IMAGEWIDTH: Type mismatch: \"wide\" is not a number");
  w->runOnControl([](Upload& u) { EXPECT_EQ(u.Image2.Count(), 1) << "no gallery"; });
  EXPECT_FALSE(view(*w, "imgUploadAll").isEnabled());
  EXPECT_FALSE(view(*w, "Label5").isVisible()) << "no reminder to dock the camera";
  EXPECT_EQ(w->exitStatus(), 2);
  QTest::keyClick(w.get(), Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(test::readFile(file), damaged);
  EXPECT_EQ(filesIn(dock).size(), 2u);
}

TEST_F(DesktopWindowTest, WithoutAFolderTheWindowAsksForOne) {
  photos(3);
  QString askedFrom = "not asked";
  auto w = std::make_unique<Window>(app::parseOptions(app::Program::Desktop, {}));
  w->chooseFolder = [&](const QString& start) {
    askedFrom = start;
    return QString::fromStdString(dock.string());
  };
  w->show();
  ASSERT_TRUE(w->waitIdle());
  EXPECT_EQ(askedFrom, "");
  w->runOnControl([](Upload& u) { EXPECT_EQ(u.Image2.Count(), 3); });
  EXPECT_NE(w->windowTitle().toStdString().find(dock.string()), std::string::npos);

  auto cancelled = std::make_unique<Window>(app::parseOptions(app::Program::Desktop, {(dock / "gone").string()}));
  cancelled->chooseFolder = [&](const QString& start) {
    askedFrom = start;
    return QString();
  };
  cancelled->show();
  ASSERT_TRUE(cancelled->waitIdle());
  EXPECT_EQ(askedFrom.toStdString(), dock.string());
  EXPECT_FALSE(cancelled->isVisible());
}

TEST_F(DesktopWindowTest, ScreenshotOfAGallery) {
  photos(11);
  auto w = open();
  click(view(*w, "Image2[1]"));
  click(view(*w, "chkSelect[4]"));
  ASSERT_TRUE(w->waitIdle());
  QImage shot = w->grab().toImage();
  EXPECT_EQ(shot.size(), QSize(732, 556 + kStatusStrip) * w->devicePixelRatio());
  std::filesystem::create_directories(std::filesystem::path(KIV_SCREENSHOT_FILE).parent_path());
  ASSERT_TRUE(shot.save(KIV_SCREENSHOT_FILE));
}

}  // namespace
}  // namespace kiv::desktop
