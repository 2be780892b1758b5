#include <platform/imaging/imaging.hpp>

#include <platform/host/error.hpp>
#include <platform/imaging/codec.hpp>
#include <platform/imaging/jpeg_quality.hpp>

#include "camera_exif.hpp"

#include <support/photos.hpp>
#include <support/temp_dir.hpp>
#include <support/wine.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

namespace kiv::imaging {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::underWine;

// Runs the call, expects kiv::Error with that number and returns its message.
std::string errorOf(int number, const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), number) << e.what();
    return e.what();
  }
  ADD_FAILURE() << "expected kiv::Error " << number;
  return {};
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

#ifndef _WIN32
// Root reads and writes through any permission.
bool permissionsApply() { return ::geteuid() != 0; }
#endif

#ifdef _WIN32
// Wine's ReplaceFileW parks the old file under an "rf*.tmp" name of its own
// and, when the replacement is refused, leaves it there; Windows does not.
std::set<std::string> withoutWineLeftovers(std::set<std::string> names) {
  if (!underWine()) return names;
  std::erase_if(names, [](const std::string& name) { return name.starts_with("rf") && name.ends_with(".tmp"); });
  return names;
}

// Windows refuses a file that another handle holds without sharing.
class HeldExclusively {
 public:
  explicit HeldExclusively(const fs::path& file)
      : handle_(CreateFileW(file.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
  }
  ~HeldExclusively() { CloseHandle(handle_); }

 private:
  HANDLE handle_;
};
#endif

bool isJpeg(const fs::path& file) {
  const std::string bytes = test::readFile(file);
  return bytes.size() > 3 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0;
}

TEST(ImageEditorTest, LoadReportsTheSizeFromTheHeader) {
  TempDir dir;
  test::writeJpeg(dir / "a.jpg", 640, 480);
  ImageEditor editor;
  editor.LoadPicture((dir / "a.jpg").string());
  EXPECT_EQ(editor.PictureWidth(), 640);
  EXPECT_EQ(editor.PictureHeight(), 480);
}

TEST(ImageEditorTest, RotatedPhotoIsSizedAndSavedUprightKeepingItsCamera) {
  TempDir dir;
  const fs::path photo = dir / "turned.jpg";
  test::writeJpeg(photo, 640, 480, 6);

  ImageEditor editor;
  editor.LoadPicture(photo.string());
  EXPECT_EQ(editor.PictureWidth(), 480);
  EXPECT_EQ(editor.PictureHeight(), 640);
  editor.ResizePicture(120, 160);
  editor.SavePicture(photo.string());

  EXPECT_EQ(test::pictureSize(photo), std::make_pair(120, 160));
  EXPECT_EQ(test::orientationOf(photo), 1);
  EXPECT_EQ(test::cameraMakeOf(photo), test::TestCameraMake);
  // Turned a quarter clockwise, the stored bottom-left corner (no red, full
  // green) becomes the top-left one.
  auto [red, green] = test::redGreenAt(photo, 2, 2);
  EXPECT_LT(red, 40);
  EXPECT_GT(green, 200);
}

struct ResizeCase {
  int width, height;
  std::vector<std::pair<int, int>> steps;
  std::pair<int, int> saved;
};

TEST(ImageEditorTest, SavesAtExactlyTheSizeItWasLastTold) {
  const std::vector<ResizeCase> cases = {
      {640, 480, {{170, 128}}, {170, 128}},
      {480, 640, {{170, 227}, {169, 226}}, {169, 226}},
      {170, 300, {{128, 226}}, {128, 226}},
      {340, 452, {{170, 226}}, {170, 226}},
      {1001, 333, {{997, 7}}, {997, 7}},
      {100, 100, {}, {100, 100}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const fs::path photo = dir / "p.jpg";
    test::writeJpeg(photo, c.width, c.height);
    const std::string before = test::readFile(photo);
    ImageEditor editor;
    editor.LoadPicture(photo.string());
    for (auto [w, h] : c.steps) {
      editor.ResizePicture(w, h);
      EXPECT_EQ(editor.PictureWidth(), w);
      EXPECT_EQ(editor.PictureHeight(), h);
    }
    editor.SavePicture(photo.string());
    EXPECT_EQ(test::pictureSize(photo), c.saved);
    EXPECT_NE(test::readFile(photo), before) << "saved again, even without a resize";
  }
}

TEST(ImageEditorTest, LoadAfterAnInPlaceSaveSeesTheNewPicture) {
  TempDir dir;
  const fs::path photo = dir / "a.jpg";
  test::writeJpeg(photo, 640, 480);
  ImageEditor first;
  first.LoadPicture(photo.string());
  first.ResizePicture(170, 128);
  first.SavePicture(photo.string());

  ImageEditor second;
  second.LoadPicture(photo.string());
  EXPECT_EQ(second.PictureWidth(), 170);
  EXPECT_EQ(second.PictureHeight(), 128);
}

std::optional<int> qualityOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return estimatedJpegQuality(std::string(std::istreambuf_iterator<char>(in), {}));
}

// Encoding finer than the source only makes the file larger, and on a dealer's
// link every byte is waited for.
TEST(ImageEditorTest, SavesAtTheSourcesQualityAndNeverGrowsAPictureItKeepsAtItsSize) {
  // Wine's WIC encoder writes quality 75 whatever it is asked for.
  const bool qualityHonoured = !underWine();
  TempDir dir;
  for (int quality : {40, 75, 95}) {
    const fs::path kept = dir / ("kept" + std::to_string(quality) + ".jpg");
    test::writeJpeg(kept, 640, 480, 1, quality);
    const auto before = fs::file_size(kept);
    ImageEditor editor;
    editor.LoadPicture(kept.string());
    editor.SavePicture(kept.string());
    EXPECT_LE(fs::file_size(kept), before) << quality;
    if (qualityHonoured) {
      EXPECT_LE(qualityOf(kept).value_or(0), std::min(quality, 90)) << quality;
    }

    const fs::path reduced = dir / ("reduced" + std::to_string(quality) + ".jpg");
    test::writeJpeg(reduced, 1280, 960, 1, quality);
    editor.LoadPicture(reduced.string());
    editor.ResizePicture(640, 480);
    editor.SavePicture(reduced.string());
    if (qualityHonoured) {
      EXPECT_NEAR(qualityOf(reduced).value_or(0), std::min(quality, 90), 2) << quality;
    }
  }
  test::writeBmp(dir / "b.bmp", 64, 48);
  ImageEditor editor;
  editor.LoadPicture((dir / "b.bmp").string());
  editor.SavePicture((dir / "b.jpg").string());
  if (qualityHonoured) {
    EXPECT_NEAR(qualityOf(dir / "b.jpg").value_or(0), 90, 2);
  }
}

TEST(ImageEditorTest, BitmapInJpegOut) {
  TempDir dir;
  test::writeBmp(dir / "scan.bmp", 200, 100);
  ImageEditor editor;
  editor.LoadPicture((dir / "scan.bmp").string());
  EXPECT_EQ(editor.PictureWidth(), 200);
  editor.ResizePicture(170, 85);
  editor.SavePicture((dir / "scan.bmp").string());
  EXPECT_TRUE(isJpeg(dir / "scan.bmp"));
  EXPECT_EQ(test::pictureSize(dir / "scan.bmp"), std::make_pair(170, 85));
}

TEST(ImageEditorTest, RecognisesPicturesByContentNotByName) {
  TempDir dir;
  test::writeJpeg(dir / "really-a-jpeg.bmp", 64, 48);
  test::writeFile(dir / "notes.jpg", "not a picture at all\n");
  test::writeFile(dir / "empty.jpg", "");
  test::writeFile(dir / "truncated.jpg", "\xFF\xD8\xFF\xE0");

  ImageEditor editor;
  editor.LoadPicture((dir / "really-a-jpeg.bmp").string());
  EXPECT_EQ(editor.PictureWidth(), 64);
  for (const char* name : {"notes.jpg", "empty.jpg", "truncated.jpg"}) {
    const std::string path = (dir / name).string();
    EXPECT_NE(errorOf(errc::InvalidPicture, [&] { editor.LoadPicture(path); }).find(path), std::string::npos);
  }
  EXPECT_EQ(errorOf(errc::InvalidPicture, [&] { editor.LoadPicture(dir.path().string()); }).empty(), false);
}

TEST(ImageEditorTest, MissingOrUnreadableFilesAndOutOfOrderCalls) {
  TempDir dir;
  ImageEditor editor;
  errorOf(errc::FileNotFound, [&] { editor.LoadPicture((dir / "gone.jpg").string()); });
  errorOf(errc::InvalidProcedureCall, [&] { editor.PictureWidth(); });
  errorOf(errc::InvalidProcedureCall, [&] { editor.SavePicture((dir / "out.jpg").string()); });

  test::writeJpeg(dir / "a.jpg", 64, 48);
  editor.LoadPicture((dir / "a.jpg").string());
  errorOf(errc::InvalidProcedureCall, [&] { editor.ResizePicture(0, 10); });
  errorOf(errc::InvalidProcedureCall, [&] { editor.ResizePicture(10, -1); });
  EXPECT_EQ(editor.PictureWidth(), 64) << "a refused resize changes nothing";

#ifdef _WIN32
  {
    HeldExclusively held(dir / "a.jpg");
    errorOf(errc::PermissionDenied, [&] { editor.LoadPicture((dir / "a.jpg").string()); });
  }
#else
  if (permissionsApply()) {
    fs::permissions(dir / "a.jpg", fs::perms::none);
    errorOf(errc::PermissionDenied, [&] { editor.LoadPicture((dir / "a.jpg").string()); });
  }
#endif
}

#ifndef _WIN32
// Simulates a full disk: writes past the limit fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousSignal_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousSignal_);
  }

 private:
  rlimit previous_{};
  void (*previousSignal_)(int) = nullptr;
};
#endif

TEST(ImageEditorTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const fs::path photo = dir / "a.jpg";
  test::writeJpeg(photo, 640, 480);
  const std::string original = test::readFile(photo);
  ImageEditor editor;
  editor.LoadPicture(photo.string());

#ifndef _WIN32
  {
    FileSizeLimit full(64);
    errorOf(errc::DiskFull, [&] { editor.SavePicture(photo.string()); });
  }
  EXPECT_EQ(test::readFile(photo), original);
  EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"a.jpg"});
#endif

  errorOf(errc::PathNotFound, [&] { editor.SavePicture((dir / "missing" / "a.jpg").string()); });
  EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"a.jpg"});

#ifdef _WIN32
  {
    // Read-only, or held by another program: the old file stays as it was.
    test::writeJpeg(dir / "b.jpg", 64, 48);
    const std::string before = test::readFile(dir / "b.jpg");
    fs::permissions(dir / "b.jpg", fs::perms::owner_read);
    errorOf(errc::PermissionDenied, [&] { editor.SavePicture((dir / "b.jpg").string()); });
    fs::permissions(dir / "b.jpg", fs::perms::owner_all);
    {
      HeldExclusively held(dir / "b.jpg");
      errorOf(errc::PermissionDenied, [&] { editor.SavePicture((dir / "b.jpg").string()); });
    }
    EXPECT_EQ(test::readFile(dir / "b.jpg"), before);
    EXPECT_EQ(withoutWineLeftovers(namesIn(dir.path())), (std::set<std::string>{"a.jpg", "b.jpg"}));
    editor.SavePicture((dir / "b.jpg").string());
    EXPECT_EQ(test::pictureSize(dir / "b.jpg"), std::make_pair(640, 480)) << "replaced once free";
  }
#else
  if (permissionsApply()) {
    fs::create_directory(dir / "locked");
    test::writeJpeg(dir / "locked" / "b.jpg", 64, 48);
    const std::string lockedBefore = test::readFile(dir / "locked" / "b.jpg");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    errorOf(errc::PermissionDenied, [&] { editor.SavePicture((dir / "locked" / "b.jpg").string()); });
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_EQ(test::readFile(dir / "locked" / "b.jpg"), lockedBefore);
    EXPECT_EQ(namesIn(dir / "locked"), std::set<std::string>{"b.jpg"});
  }
#endif
  EXPECT_EQ(test::readFile(photo), original);
}

TEST(ImageEditorTest, PhotoCutShortIsNotSavedAsIfWhole) {
  TempDir dir;
  const fs::path photo = dir / "cut.jpg";
  test::writeJpeg(photo, 640, 480);
  const std::string whole = test::readFile(photo);
  test::writeFile(photo, whole.substr(0, whole.size() / 2));
  const std::string cut = test::readFile(photo);

  ImageEditor editor;
#ifdef _WIN32
  if (underWine()) {
    // Wine's JPEG decoder reads the whole scan when it opens the file, so there
    // a cut photo is refused already when loaded; Windows reads it lazily.
    errorOf(errc::InvalidPicture, [&] { editor.LoadPicture(photo.string()); });
    EXPECT_EQ(test::readFile(photo), cut);
    return;
  }
#endif
  editor.LoadPicture(photo.string());
  editor.ResizePicture(170, 128);
  errorOf(errc::InvalidPicture, [&] { editor.SavePicture(photo.string()); });
  EXPECT_EQ(test::readFile(photo), cut);
  EXPECT_GT(LoadDisplayPicture(photo.string())->bitmap().width, 0) << "still shown, as far as it goes";
}

TEST(DisplayPictureTest, DecodesSmallUprightRgba) {
  TempDir dir;
  test::writeJpeg(dir / "big.jpg", 2000, 1500);
  test::writeJpeg(dir / "turned.jpg", 800, 600, 8);
  test::writeBmp(dir / "small.bmp", 120, 90);

  const host::PictureRef bigPicture = LoadDisplayPicture((dir / "big.jpg").string());
  const host::Bitmap& big = bigPicture->bitmap();
  EXPECT_EQ(big.width, 360);
  EXPECT_EQ(big.height, 270);
  EXPECT_EQ(big.rgba.size(), 360u * 270u * 4u);
  EXPECT_EQ(big.rgba[3], 255);

  auto turned = LoadDisplayPicture((dir / "turned.jpg").string());
  EXPECT_EQ(turned->bitmap().width, 270);
  EXPECT_EQ(turned->bitmap().height, 360);

  auto small = LoadDisplayPicture((dir / "small.bmp").string());
  EXPECT_EQ(small->bitmap().width, 120) << "never enlarged";
  EXPECT_EQ(small->bitmap().height, 90);
}

TEST(DisplayPictureTest, ChecksTheHeaderAtOnceButDecodesOnFirstUse) {
  TempDir dir;
  const std::string video("\0\0\1\xBA\x44\0\x04", 7);
  test::writeFile(dir / "clip.mpeg", video);
  test::writeFile(dir / "clip.jpg", video);
  errorOf(errc::InvalidPicture, [&] { LoadDisplayPicture((dir / "clip.jpg").string()); });
  errorOf(errc::InvalidPicture, [&] { LoadDisplayPicture((dir / "clip.mpeg").string()); });
  errorOf(errc::FileNotFound, [&] { LoadDisplayPicture((dir / "gone.jpg").string()); });
#ifdef _WIN32
  errorOf(errc::InvalidPicture, [&] { LoadDisplayPicture("NUL"); });
#else
  ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
  errorOf(errc::InvalidPicture, [&] { LoadDisplayPicture((dir / "pipe.jpg").string()); });
#endif

  test::writeJpeg(dir / "a.jpg", 640, 480);
  auto picture = LoadDisplayPicture((dir / "a.jpg").string());
  test::writeJpeg(dir / "a.jpg", 300, 200);
  EXPECT_EQ(picture->bitmap().width, 300) << "pixels were read when first drawn";

  auto vanished = LoadDisplayPicture((dir / "a.jpg").string());
  fs::remove(dir / "a.jpg");
  EXPECT_EQ(vanished->bitmap().width, 0);
  EXPECT_TRUE(vanished->bitmap().rgba.empty());

  // Swapped for a pipe (on Windows a folder) after its header was read: drawn
  // empty, never waited on.
  test::writeJpeg(dir / "b.jpg", 64, 48);
  auto swapped = LoadDisplayPicture((dir / "b.jpg").string());
  fs::remove(dir / "b.jpg");
#ifdef _WIN32
  fs::create_directory(dir / "b.jpg");
#else
  ASSERT_EQ(::mkfifo((dir / "b.jpg").c_str(), 0600), 0);
#endif
  EXPECT_TRUE(swapped->bitmap().rgba.empty());
}

TEST(DisplayPictureTest, SharedViewsDecodeOnceAcrossThreads) {
  TempDir dir;
  test::writeJpeg(dir / "a.jpg", 1200, 900);
  host::PictureRef thumbnail = LoadDisplayPicture((dir / "a.jpg").string());
  host::PictureRef zoom = thumbnail;

  std::vector<const host::Bitmap*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&, i] { seen[i] = &(i % 2 ? zoom : thumbnail)->bitmap(); });
  for (auto& t : threads) t.join();
  for (const auto* bitmap : seen) EXPECT_EQ(bitmap, &thumbnail->bitmap());
  EXPECT_EQ(thumbnail->bitmap().width, 360);
}

// A 24-bit bitmap file: rows bottom-up, each padded to four bytes.
std::string bmpFile(int width, int height, const std::function<std::array<int, 3>(int x, int y)>& rgb) {
  const int stride = (width * 3 + 3) / 4 * 4;
  std::string file = "BM";
  for (std::uint32_t field : {std::uint32_t(54 + stride * height), 0u, 54u, 40u, std::uint32_t(width),
                              std::uint32_t(height), 1u | 24u << 16, 0u, std::uint32_t(stride * height), 2835u,
                              2835u, 0u, 0u})
    test::putNumber(file, field, 4, false);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const auto [r, g, b] = rgb(x, y);
      file += {static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
    }
    file.append(static_cast<std::size_t>(stride - width * 3), '\0');
  }
  return file;
}

// What a camera stores for a 3:2 photo: 160x120 with the photo in rows 7 to
// 112 between black bars. Bright throughout, so a row of a bar left in shows.
std::string letterboxedThumbnail(const fs::path& dir) {
  const fs::path bmp = dir / "thumbnail.bmp";
  test::writeFile(bmp, bmpFile(160, 120, [](int x, int y) -> std::array<int, 3> {
    if (y < 7 || y > 112) return {0, 0, 0};
    return {160 + x * 95 / 159, 160 + (y - 7) * 95 / 105, 220};
  }));
  return codec::renderJpeg(bmp.string(), 160, 120, 95);
}

// A 600x400 photo (red across, green down) whose Exif block holds the
// orientation and the thumbnail.
void writeCameraPhoto(const fs::path& file, int orientation, std::string_view thumbnail) {
  test::writeJpeg(file, 600, 400, orientation);
  test::writeFile(file, test::withExif(test::readFile(file),
                                       test::exifSegment(test::exifTiff(thumbnail, {.orientation = orientation}))));
}

std::array<int, 3> rgbAt(const host::Bitmap& bitmap, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.width) + x) * 4;
  return {bitmap.rgba[at], bitmap.rgba[at + 1], bitmap.rgba[at + 2]};
}

int darkestInRow(const host::Bitmap& bitmap, int y) {
  int darkest = 255;
  for (int x = 0; x < bitmap.width; ++x) {
    const auto [r, g, b] = rgbAt(bitmap, x, y);
    darkest = std::min(darkest, (299 * r + 587 * g + 114 * b) / 1000);
  }
  return darkest;
}

// Which corner (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right) has
// the most of score.
int cornerWithMost(const host::Bitmap& bitmap, const std::function<int(std::array<int, 3>)>& score) {
  const int inset = 3, right = bitmap.width - 1 - inset, bottom = bitmap.height - 1 - inset;
  const std::array<std::array<int, 3>, 4> corners = {rgbAt(bitmap, inset, inset), rgbAt(bitmap, right, inset),
                                                     rgbAt(bitmap, inset, bottom), rgbAt(bitmap, right, bottom)};
  int best = 0;
  for (int i = 1; i < 4; ++i)
    if (score(corners[static_cast<std::size_t>(i)]) > score(corners[static_cast<std::size_t>(best)])) best = i;
  return best;
}

TEST(DisplayPictureTest, CameraThumbnailServesBoxesItNeedsNoEnlargingFor) {
  TempDir dir;
  writeCameraPhoto(dir / "IMG_0001.JPG", 1, letterboxedThumbnail(dir.path()));
  const host::PictureRef picture = LoadDisplayPicture((dir / "IMG_0001.JPG").string());

  // A grid cell and the enlarged view at once, as a host's threads draw them.
  std::vector<const host::Bitmap*> cells(4), zooms(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < cells.size(); ++i)
    threads.emplace_back([&, i] {
      cells[i] = &picture->bitmapFor(105, 97);
      zooms[i] = &picture->bitmapFor(180, 120);
    });
  for (auto& t : threads) t.join();
  const host::Bitmap& full = picture->bitmap();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    EXPECT_EQ(cells[i], cells[0]);
    EXPECT_EQ(zooms[i], &full);
  }
  const host::Bitmap& cell = *cells[0];
  EXPECT_EQ(cell.width, 160);
  EXPECT_EQ(cell.height, 106);
  EXPECT_EQ(full.width, 360);
  EXPECT_EQ(full.height, 240);
  EXPECT_EQ(&picture->bitmapFor(160, 106), &cell) << "the thumbnail's own size";
  EXPECT_EQ(&picture->bitmapFor(161, 50), &full);
  EXPECT_EQ(&picture->bitmapFor(100, 107), &full);

  // Not a row of the bars is left at either edge.
  EXPECT_GT(darkestInRow(cell, 0), 110);
  EXPECT_GT(darkestInRow(cell, cell.height - 1), 110);
}

TEST(DisplayPictureTest, CameraThumbnailIsTurnedAsThePhotoIs) {
  TempDir dir;
  writeCameraPhoto(dir / "IMG_0002.JPG", 6, letterboxedThumbnail(dir.path()));
  const host::PictureRef picture = LoadDisplayPicture((dir / "IMG_0002.JPG").string());
  const host::Bitmap& cell = picture->bitmapFor(105, 97);
  const host::Bitmap& full = picture->bitmap();
  ASSERT_EQ(cell.width, 106);
  ASSERT_EQ(cell.height, 160);
  ASSERT_EQ(full.width, 240);
  ASSERT_EQ(full.height, 360);
  const auto redAndGreen = [](std::array<int, 3> p) { return p[0] + p[1]; };
  const auto redNotGreen = [](std::array<int, 3> p) { return p[0] - p[1]; };
  EXPECT_EQ(cornerWithMost(cell, redAndGreen), 2) << "stored bottom right, turned a quarter clockwise";
  EXPECT_EQ(cornerWithMost(cell, redAndGreen), cornerWithMost(full, redAndGreen));
  EXPECT_EQ(cornerWithMost(cell, redNotGreen), cornerWithMost(full, redNotGreen));
}

TEST(DisplayPictureTest, WithoutAUsableThumbnailEveryBoxGetsTheFullDecode) {
  TempDir dir;
  const std::string thumbnail = letterboxedThumbnail(dir.path());
  std::string garbled = thumbnail;
  garbled[garbled.find("\xFF\xDA") + 5] = '\x77';  // a scan of a component the frame does not have

  test::writeJpeg(dir / "plain.jpg", 600, 400);
  writeCameraPhoto(dir / "damaged.jpg", 1, garbled);
  writeCameraPhoto(dir / "cut.jpg", 1, thumbnail.substr(0, thumbnail.size() / 2));
  test::writeBmp(dir / "scan.bmp", 600, 400);
  for (const char* name : {"plain.jpg", "damaged.jpg", "cut.jpg", "scan.bmp"}) {
    const host::PictureRef picture = LoadDisplayPicture((dir / name).string());
    EXPECT_EQ(&picture->bitmapFor(105, 97), &picture->bitmap()) << name;
    EXPECT_EQ(picture->bitmap().width, 360) << name;
  }
}

}  // namespace
}  // namespace kiv::imaging
