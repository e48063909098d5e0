#include "present/editor_conversions.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

namespace kelvo {
namespace {

TEST(EditorConversions, NADTextBecomesASigned32BitNumberOrOne) {
  struct TCase {
    const char* Text;
    std::int32_t NAD;
  };
  const TCase cases[] = {
      {"", 1},
      {"12x", 1},
      {"x12", 1},
      {"1001", 1001},
      {"0", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"2147483648", 1},
      {"4294967295", 1},
      {"-5", -5},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"-2147483649", 1},
      {"-", 1},
      {"--5", 1},
      {"+5", 5},
      {"+-5", 1},
      {" 42 ", 42},
      {"4 2", 1},
      {"0x10", 1},
      {"1e3", 1},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ConvertNAD(c.Text), c.NAD) << '"' << c.Text << '"';
  }
}

TEST(EditorConversions, PortTextKeepsTheLow16BitsOfA32BitNumber) {
  struct TCase {
    const char* Text;
    std::uint16_t Port;
  };
  const TCase cases[] = {
      {"", 1},         {"port", 1},   {"8442", 8442},     {"65535", 65535},      {"65536", 0},
      {"70000", 4464}, {"-1", 65535}, {"99999999999", 1}, {"2147483647", 65535}, {"0", 0},
      {"8442 ", 8442},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ConvertPort(c.Text), c.Port) << '"' << c.Text << '"';
  }
}

TEST(EditorConversions, FieldsAcceptDigitsAndTheNADFieldOneLeadingMinus) {
  using A = TFieldAcceptance;
  struct TCase {
    const char* Text;
    A NAD;
    A Port;
  };
  const TCase cases[] = {
      {"", A::Acceptable, A::Acceptable}, {"123", A::Acceptable, A::Acceptable},
      {"-5", A::Acceptable, A::Invalid},  {"-", A::Intermediate, A::Invalid},
      {"--5", A::Invalid, A::Invalid},    {"5-", A::Invalid, A::Invalid},
      {"-5x1", A::Invalid, A::Invalid},   {"-5x1 ", A::Invalid, A::Invalid},
      {"x", A::Invalid, A::Invalid},      {" 5", A::Invalid, A::Invalid},
      {"+5", A::Invalid, A::Invalid},     {"84.42", A::Invalid, A::Invalid},
      {"1-2", A::Invalid, A::Invalid},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(NADFieldAcceptance(c.Text), c.NAD) << '"' << c.Text << '"';
    EXPECT_EQ(PortFieldAcceptance(c.Text), c.Port) << '"' << c.Text << '"';
  }
}

// OK is enabled exactly for the texts that convert to what was typed.
TEST(EditorConversions, OKOnlyForTextsThatConvertToWhatWasTyped) {
  struct TCase {
    TEntryTexts Texts;
    bool Acceptable;
  };
  const TCase cases[] = {
      {{"", "", ""}, false},
      {{"7", "controller", ""}, false},
      {{"7", "", "8442"}, false},
      {{"7", " \t", "8442"}, false},  // a blank host is no host
      {{"", "controller", "8442"}, false},
      {{"7", "controller", "8442"}, true},
      {{"-", "h", "1"}, false},           // a lone minus is not a number
      {{"-2147483648", "h", "1"}, true},  // the NAD's whole signed range
      {{"2147483647", "h", "65535"}, true},
      {{"2147483648", "h", "1"}, false},  // would become NAD 1
      {{"4294967295", "h", "1"}, false},
      {{"-2147483649", "h", "1"}, false},
      {{"7", "h", "0"}, false},      // no port 0
      {{"7", "h", "65536"}, false},  // would become port 0
      {{"7", "h", "99999"}, false},  // would become port 34463
      {{"7", "h", "-1"}, false},
      {{"007", "h", "00080"}, true},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(EntryTextsAcceptable(c.Texts), c.Acceptable)
        << c.Texts.NAD << "|" << c.Texts.Host << "|" << c.Texts.Port;
    if (c.Acceptable) {
      // What OK lets through converts to the very numbers typed.
      EXPECT_EQ(std::to_string(ConvertNAD(c.Texts.NAD)), std::to_string(std::stoll(c.Texts.NAD)));
      EXPECT_EQ(ConvertPort(c.Texts.Port), std::stoi(c.Texts.Port));
    }
  }
}

// Whatever an entry holds, the editor shows it as a text its field accepts and that converts
// back to the same value, so Edit then OK without typing changes nothing.
TEST(EditorConversions, EveryEntryValueRoundTripsThroughAnAcceptedFieldText) {
  std::vector<std::int32_t> nads = {0, 1, -1, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max()};
  std::mt19937 random(8442);
  std::uniform_int_distribution<std::int32_t> any(std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max());
  for (int i = 0; i < 10000; ++i) {
    nads.push_back(any(random));
  }
  for (std::int32_t nad : nads) {
    const std::string text = NADEditText(nad);
    ASSERT_EQ(NADFieldAcceptance(text), TFieldAcceptance::Acceptable) << text;
    ASSERT_EQ(ConvertNAD(text), nad) << text;
  }
  for (std::uint32_t port = 0; port <= 0xFFFF; ++port) {
    const std::string text = PortEditText(static_cast<std::uint16_t>(port));
    ASSERT_EQ(PortFieldAcceptance(text), TFieldAcceptance::Acceptable) << text;
    ASSERT_EQ(ConvertPort(text), port) << text;
  }
}

}  // namespace
}  // namespace kelvo
