#include "core/text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace bc {
namespace {

TEST(Text, StrictUnsignedParsing) {
  struct Case {
    const char* text;
    std::optional<uint64_t> value;
  } cases[] = {{"0", 0},
               {"+42", 42},
               {"18446744073709551615", UINT64_MAX},
               {"18446744073709551616", std::nullopt},
               {"", std::nullopt},
               {"+", std::nullopt},
               {"++1", std::nullopt},
               {"-1", std::nullopt},
               {" 1", std::nullopt},
               {"1 ", std::nullopt},
               {"1.0", std::nullopt},
               {"0x10", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(parse_u64(c.text), c.value) << c.text;
  EXPECT_EQ(parse_u32("4294967295"), 4294967295u);
  EXPECT_EQ(parse_u32("4294967296"), std::nullopt);
}

TEST(Text, StrictFloatParsing) {
  struct Case {
    const char* text;
    std::optional<double> value;
  } cases[] = {{"12.34", 12.34},
               {"-1e3", -1000.0},
               {"+.5", 0.5},
               {"5.", 5.0},
               {"1E+2", 100.0},
               {"inf", INFINITY},
               {"-Infinity", -INFINITY},
               {"1e", std::nullopt},
               {".", std::nullopt},
               {"", std::nullopt},
               {"1.2.3", std::nullopt},
               {" 1", std::nullopt},
               {"0x1p3", std::nullopt},
               {"1,5", std::nullopt},
               {"infinit", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(parse_f64(c.text), c.value) << c.text;
  auto nan = parse_f64("NaN");
  ASSERT_TRUE(nan);
  EXPECT_TRUE(std::isnan(*nan));
  EXPECT_EQ(parse_f64("1e999"), INFINITY);
}

TEST(Text, TrimAndSplitUseUnicodeWhiteSpace) {
  EXPECT_EQ(trim("\u00a0\t Intel(R) Xeon \u3000\r\n"), "Intel(R) Xeon");
  EXPECT_EQ(trim(" \t "), "");
  auto words = split_whitespace("a\u2003 b\tc  ");
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[1], "b");
  auto lines = split_lines("a\r\nb\n\nc\r");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "c\r");
  EXPECT_EQ(split_lines("a\n").size(), 1u);
  EXPECT_TRUE(split_lines("").empty());
}

TEST(Text, LossyDecodingReplacesEachBadSequence) {
  EXPECT_EQ(decode_utf8_lossy("ok \xc3\xa9"), "ok \xc3\xa9");
  EXPECT_EQ(decode_utf8_lossy("a\xff"
                              "b"),
            "a\xef\xbf\xbd"
            "b");
  // A truncated three-byte sequence is one replacement, not two.
  EXPECT_EQ(decode_utf8_lossy("\xe2\x82"), "\xef\xbf\xbd");
  EXPECT_EQ(decode_utf8_lossy("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_FALSE(is_valid_utf8("\xc0\x80"));
}

TEST(Text, LowerCasing) {
  EXPECT_EQ(to_lower_unicode("RTX 4090 \xc3\x84"), "rtx 4090 \xc3\xa4");
  // Full lower-casing, not one code point for one: İ gains a combining dot,
  // and a word-final capital sigma becomes final sigma.
  EXPECT_EQ(to_lower_unicode("T\xc4\xb0"), "ti\xcc\x87");
  EXPECT_EQ(to_lower_unicode("\xce\xa3\xce\x91\xce\xa3 \xce\xa3"),
            "\xcf\x83\xce\xb1\xcf\x82 \xcf\x83");
  EXPECT_EQ(to_lower_unicode("a\xff"
                             "B"),
            "a\xff"
            "b");
  EXPECT_EQ(to_lower_ascii("GgUF\xc3\x84"), "gguf\xc3\x84");
}

TEST(Text, FixedFormattingRoundsTheBinaryValue) {
  EXPECT_EQ(format_fixed(0.05, 1), "0.1");  // 0.05 is stored slightly above
  EXPECT_EQ(format_fixed(0.25, 1), "0.2");  // exact tie: banker's by the C library
  EXPECT_EQ(format_fixed(7.0, 1), "7.0");
  EXPECT_EQ(format_fixed(std::nan(""), 1), "NaN");
  EXPECT_EQ(format_fixed(-INFINITY, 2), "-inf");
  EXPECT_EQ(format_fixed(1e22, 0), "10000000000000000000000");
  EXPECT_EQ(format_fixed(-1.79e308, 1).size(), 312u);
}

TEST(Text, SaturatingConversions) {
  EXPECT_EQ(saturate_u64(-3.5), 0u);
  EXPECT_EQ(saturate_u64(std::nan("")), 0u);
  EXPECT_EQ(saturate_u64(1e30), UINT64_MAX);
  EXPECT_EQ(saturate_u32(4294967296.0), UINT32_MAX);
  EXPECT_EQ(saturate_u32(3.99), 3u);
}

}  // namespace
}  // namespace bc
