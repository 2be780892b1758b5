#include "support/control_fixture.hpp"
#include "support/photos.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kiv {
namespace {

using test::pictureSize;
using test::writeJpeg;

struct ResizeCase {
  int width, height;
  std::pair<int, int> expected;
};

TEST(ResizeTest, FitsWidthFirstThenHeightRoundingHalvesToEven) {
  test::ControlUnderTest f;
  for (const ResizeCase& c : std::initializer_list<ResizeCase>{{640, 480, {170, 128}},
                                                               {480, 640, {169, 226}},
                                                               {170, 300, {128, 226}},
                                                               {340, 452, {170, 226}},
                                                               {100, 100, {100, 100}},
                                                               {170, 226, {170, 226}}}) {
    std::string file = f.photo(std::to_string(c.width) + "x" + std::to_string(c.height) + ".jpg");
    writeJpeg(file, c.width, c.height);
    const std::string before = file;
    EXPECT_TRUE(f.upload.kivResizeImages(file));
    EXPECT_EQ(file, before) << "the path is left unchanged";
    EXPECT_EQ(pictureSize(file), c.expected) << c.width << "x" << c.height;
  }
  // The longest name the file system allows: the save's temporary name must still fit.
  std::string longest = f.photo(std::string(251, 'n') + ".jpg");
  writeJpeg(longest, 640, 480);
  EXPECT_TRUE(f.upload.kivResizeImages(longest));
  EXPECT_EQ(pictureSize(longest), (std::pair{170, 128}));
  EXPECT_EQ(test::filesUnder(f.dock.path()).size(), 7u) << "no temporary file left";
}

TEST(ResizeTest, AlwaysRewritesTheFileAsJpeg) {
  test::ControlUnderTest f;
  std::string bmp = f.photo("scan.bmp");
  test::writeBmp(bmp, 60, 40);
  EXPECT_TRUE(f.upload.kivResizeImages(bmp));
  EXPECT_EQ(test::readFile(bmp).substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(pictureSize(bmp), (std::pair{60, 40}));
}

TEST(ResizeTest, RotatedPhotoIsFittedUpright) {
  test::ControlUnderTest f;
  std::string file = f.photo("rotated.jpg");
  writeJpeg(file, 640, 480, 6);  // stored landscape, shown portrait
  EXPECT_TRUE(f.upload.kivResizeImages(file));
  EXPECT_EQ(pictureSize(file), (std::pair{169, 226}));
  EXPECT_EQ(test::orientationOf(file), 1);
}

TEST(ResizeTest, FailsWithoutTouchingTheFile) {
  test::ControlUnderTest f;
  std::string text = f.photo("notes.jpg");
  test::writeFile(text, "not a picture");
  EXPECT_FALSE(f.upload.kivResizeImages(text));
  EXPECT_EQ(test::readFile(text), "not a picture");

  std::string missing = f.photo("missing.jpg");
  EXPECT_FALSE(f.upload.kivResizeImages(missing));
  EXPECT_FALSE(std::filesystem::exists(missing));

  // A pipe (on Windows a folder) is refused, never waited on.
  std::string pipe = f.photo("pipe.jpg");
#ifdef _WIN32
  std::filesystem::create_directory(pipe);
#else
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
#endif
  EXPECT_FALSE(f.upload.kivResizeImages(pipe));

  // A size limit of zero cannot be met: a clear failure, the photo as it was.
  std::string photo = f.photo("big.jpg");
  writeJpeg(photo, 400, 300);
  const std::string original = test::readFile(photo);
  f.upload.IMAGEWIDTH(0);
  EXPECT_FALSE(f.upload.kivResizeImages(photo));
  f.upload.IMAGEWIDTH(170);
  f.upload.IMAGEHEIGHT(-5);
  EXPECT_FALSE(f.upload.kivResizeImages(photo));
  EXPECT_EQ(test::readFile(photo), original);
}

}  // namespace
}  // namespace kiv
