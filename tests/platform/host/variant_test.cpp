#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace kiv::host {
namespace {

int errorOf(auto convert) {
  try {
    convert();
  } catch (const Error& error) {
    return error.number();
  }
  return 0;
}

TEST(VariantTest, TextBecomesANumberWhenItIsADecimalNumber) {
  EXPECT_EQ(Variant(" 42 ").toInt32(), 42);
  EXPECT_EQ(Variant("\t+7").toInt16(), 7);
  EXPECT_EQ(Variant("-0042").toInt32(), -42);
  EXPECT_EQ(Variant("1.5e2").toInt16(), 150);
  EXPECT_EQ(Variant(".5").toDouble(), 0.5);
  EXPECT_EQ(Variant("5.").toDouble(), 5.0);
  EXPECT_EQ(Variant("1E-400").toDouble(), 0.0);
  for (const char* tiny : {"1e-9223372036854775808", "0.001e-9223372036854775808", "1e-99999999999999999999"}) {
    EXPECT_EQ(Variant(tiny).toDouble(), 0.0) << tiny;
  }
  EXPECT_EQ(Variant("0e999999999999999999999").toInt16(), 0);
  EXPECT_EQ(Variant("4.9e-324").toDouble(), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(Variant("0." + std::string(400, '0') + "25e401").toInt16(), 2);
  EXPECT_EQ(Variant("-" + std::string(400, '0') + "1e+2").toInt16(), -100);
}

TEST(VariantTest, FractionsRoundHalfToEven) {
  EXPECT_EQ(Variant("2.5").toInt16(), 2);
  EXPECT_EQ(Variant("3.5").toInt16(), 4);
  EXPECT_EQ(Variant("-2.5").toInt32(), -2);
  EXPECT_EQ(Variant(127.5).toInt16(), 128);
  EXPECT_EQ(Variant(2.4999).toInt16(), 2);
}

TEST(VariantTest, OutOfRangeIsOverflowAndAnythingElseTypeMismatch) {
  EXPECT_EQ(errorOf([] { Variant("32767.5").toInt16(); }), errc::Overflow);
  EXPECT_EQ(errorOf([] { Variant("-32768.5").toInt16(); }), 0);  // rounds to the even -32768
  EXPECT_EQ(errorOf([] { Variant(std::int32_t{40000}).toInt16(); }), errc::Overflow);
  EXPECT_EQ(errorOf([] { Variant("2147483648").toInt32(); }), errc::Overflow);
  EXPECT_EQ(errorOf([] { Variant("2147483647.5").toInt32(); }), errc::Overflow);
  EXPECT_EQ(Variant("-2147483648.5").toInt32(), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Variant("1.7976931348623157e308").toDouble(), std::numeric_limits<double>::max());
  for (const char* huge : {"1e999", "-1e309", "1.7976931348623159e308", "1e9223372036854775806",
                           "1e9223372036854775807", "1e+9223372036854775808", "1e99999999999999999999",
                           "0.001e9223372036854775807"}) {
    EXPECT_EQ(errorOf([huge] { Variant(huge).toDouble(); }), errc::Overflow) << huge;
  }
  for (const char* bad :
       {"", " ", "abc", "12abc", "1 2", "0x10", "inf", "nan", "--1", "1e", "1e+", "1e-", ".", "+", "1,5", "e5"}) {
    EXPECT_EQ(errorOf([bad] { Variant(bad).toInt32(); }), errc::TypeMismatch) << '"' << bad << '"';
  }
  EXPECT_EQ(errorOf([] { Variant(Variant::Array{"a"}).toInt16(); }), errc::TypeMismatch);
}

TEST(VariantTest, NumbersBecomePlainDecimalText) {
  EXPECT_EQ(Variant(std::int32_t{-1395348}).toString(), "-1395348");
  EXPECT_EQ(Variant(std::int16_t{8515}).toString(), "8515");
  EXPECT_EQ(Variant(1510.0).toString(), "1510");
  EXPECT_EQ(Variant(1e6).toString(), "1000000");
  EXPECT_EQ(Variant(0.25).toString(), "0.25");
  EXPECT_EQ(numberText(static_cast<float>(5 + 1870 * 3)), "5615");
}

TEST(VariantTest, BooleansFollowTheClassicValues) {
  EXPECT_EQ(Variant(true).toInt16(), -1);
  EXPECT_EQ(Variant(false).toInt32(), 0);
  EXPECT_EQ(Variant(true).toString(), "True");
  EXPECT_TRUE(Variant("true").toBool());
  EXPECT_FALSE(Variant("FALSE").toBool());
  EXPECT_TRUE(Variant("-1").toBool());
  EXPECT_EQ(errorOf([] { Variant("yes").toBool(); }), errc::TypeMismatch);
  EXPECT_EQ(Variant().toInt16(), 0);
  EXPECT_EQ(Variant().toString(), "");
}

}  // namespace
}  // namespace kiv::host
