#include "config/static_list_codec.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

using TFields = std::vector<std::string>;

TEST(StaticListCodecTest, FieldsAreQuotedOnlyWhenTheyMustBe) {
  EXPECT_EQ(EncodeStaticListItem(1001, "192.168.1.20", 8442), "1001,192.168.1.20,8442");
  EXPECT_EQ(EncodeStaticListItem(-5, "host", 65535), "-5,host,65535");
  EXPECT_EQ(QuoteStaticListField("my host"), "\"my host\"");
  EXPECT_EQ(QuoteStaticListField("a,b"), "\"a,b\"");
  EXPECT_EQ(QuoteStaticListField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteStaticListField("tab\there"), "\"tab\there\"");
  EXPECT_EQ(QuoteStaticListField("\x1F"), "\"\x1F\"");
  EXPECT_EQ(QuoteStaticListField(""), "");
  EXPECT_EQ(QuoteStaticListField("h\xC3\xB4st"), "h\xC3\xB4st");  // UTF-8 is no control text
}

TEST(StaticListCodecTest, ReadingRules) {
  const std::vector<std::pair<std::string, TFields>> Cases = {
      {"", {}},
      {" \t ", {}},
      {"1,h,2", {"1", "h", "2"}},
      {"  1 ,  h ,2", {"1", "h", "2"}},
      {"1 h 2", {"1", "h", "2"}},
      {"1\th\n2", {"1", "h", "2"}},
      {"1,,2", {"1", "", "2"}},
      {",h", {"", "h"}},
      {"1,h,", {"1", "h", ""}},
      {"1,h, ", {"1", "h"}},
      {"1,\"my host\",2", {"1", "my host", "2"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"\"", {""}},
      {"1,\"open, to the end", {"1", "open, to the end"}},
      {"\"ab\"cd", {"ab", "cd"}},
      {"1,h\xC3\xB4st,2", {"1", "h\xC3\xB4st", "2"}},
  };
  for (const auto& [Text, Expected] : Cases) {
    EXPECT_EQ(SplitStaticListFields(Text), Expected) << "text: [" << Text << "]";
  }
}

TEST(StaticListCodecTest, AwkwardHostsSurviveTheRoundTrip) {
  for (const std::string Host : {"my host", "a,b", "\"q\"", "\"", "x\ty", " lead", "trail "}) {
    const TFields Fields = SplitStaticListFields(EncodeStaticListItem(7, Host, 1));
    EXPECT_EQ(Fields, (TFields{"7", Host, "1"})) << "host: [" << Host << "]";
  }
}

TEST(StaticListCodecTest, ParseInt32TakesSigned32BitDecimalOnly) {
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt32("+7"), 7);
  EXPECT_EQ(ParseInt32("70000"), 70000);
  for (const char* Bad : {"2147483648", "-2147483649", "", "-", "+", "12a", " 1", "0x10", "+-1"}) {
    EXPECT_EQ(ParseInt32(Bad), std::nullopt) << Bad;
  }
}

}  // namespace
}  // namespace kelvo
