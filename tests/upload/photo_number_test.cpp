#include <upload/photo_number.hpp>

#include <gtest/gtest.h>

namespace kiv::upload {
namespace {

TEST(PhotoNumberTest, BuildsTheRemoteNameFromTheFirstThreeFields) {
  auto answer = parsePhotoNumberAnswer("42|A|B");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->photoNumber, 42);
  EXPECT_EQ(answer->remoteName, "AB42.jpg");

  answer = parsePhotoNumberAnswer("  0042 | folder/ |  pre |ignored|more");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->photoNumber, 42);
  EXPECT_EQ(answer->remoteName, "folder/pre42.jpg");

  answer = parsePhotoNumberAnswer("-7||");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->remoteName, "-7.jpg");
}

TEST(PhotoNumberTest, OnlySpacesAreTrimmedFromTheNamePieces) {
  auto answer = parsePhotoNumberAnswer("5|\tA | B\t");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->remoteName, "\tAB\t5.jpg");
}

TEST(PhotoNumberTest, RefusesAnswersThatCannotNameAFileSafely) {
  for (const char* body : {"", "42", "42|A", "x42|A|B", "|A|B", "2147483648|A|B", "4 2|A|B", "1.5|A|B",
                           "<html>Service unavailable</html>"}) {
    EXPECT_FALSE(parsePhotoNumberAnswer(body)) << body;
  }
  EXPECT_FALSE(parsePhotoNumberAnswer("1|A\r\nDELE x|B"));
  EXPECT_FALSE(parsePhotoNumberAnswer("1|A|B\n"));
  EXPECT_FALSE(parsePhotoNumberAnswer(std::string_view("1|A\0|B", 6)));
}

TEST(PhotoNumberTest, RefusesNamesThatLeaveTheCompanyFolder) {
  for (const char* body : {"43|/13/|victim", "1|/|x", "1|\\13\\|x", "1|../|x", "1|a/../../|x", "1|a/./|x",
                           "1|a//|x", "1|..\\|x", "1|a|\x1b", "1|a\x7f|b"}) {
    EXPECT_FALSE(parsePhotoNumberAnswer(body)) << body;
  }
  const auto nested = parsePhotoNumberAnswer("8|2024/|..front");
  ASSERT_TRUE(nested);
  EXPECT_EQ(nested->remoteName, "2024/..front8.jpg");
}

}  // namespace
}  // namespace kiv::upload
