#include "cli/command_line.h"

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

TEST(CommandLine, AnOptionsValueComesAfterTheEqualsSignOrInTheNextArgument) {
  const std::vector<std::string> args = {"--tone=700", "--bar", "12", "--afc=", "--speed"};
  size_t i = 0;
  OptionArg a = SplitOption(args[i]);
  ASSERT_TRUE(TakeValue(a, args, i));
  EXPECT_EQ(a.name, "--tone");
  EXPECT_EQ(a.value, "700");
  EXPECT_EQ(i, 0u);

  OptionArg b = SplitOption(args[++i]);
  ASSERT_TRUE(TakeValue(b, args, i));
  EXPECT_EQ(b.name, "--bar");
  EXPECT_EQ(b.value, "12");
  EXPECT_EQ(i, 2u);

  OptionArg c = SplitOption(args[++i]);  // an empty value is still a value
  ASSERT_TRUE(TakeValue(c, args, i));
  EXPECT_TRUE(c.inlineValue);
  EXPECT_EQ(c.value, "");

  OptionArg d = SplitOption(args[++i]);
  EXPECT_FALSE(TakeValue(d, args, i)) << "the last argument has nothing after it";
  EXPECT_EQ(i, 4u);
  EXPECT_EQ(SplitOption("--a=b=c").value, "b=c");
}

TEST(CommandLine, NumbersTakeTheWholeArgument) {
  const struct {
    const char* text;
    bool isInt;
    bool isDouble;
  } cases[] = {
      {"42", true, true},           {"-7", true, true},      {"+7", false, true},
      {"7x", false, false},         {"", false, false},      {" 7", false, true},
      {"2.5", false, true},         {"1e3", false, true},    {"inf", false, false},
      {"nan", false, false},        {"1e999", false, false}, {"1e-320", false, false},
      {"99999999999", false, true},
  };
  for (const auto& c : cases) {
    int n = -1;
    double d = -1.0;
    EXPECT_EQ(ParseInt(c.text, n), c.isInt) << c.text;
    EXPECT_EQ(ParseDouble(c.text, d), c.isDouble) << c.text;
  }
  int n = 5;
  EXPECT_FALSE(ParseInt("12x", n));
  EXPECT_EQ(n, 5) << "a failed parse leaves the value alone";
}

}  // namespace
}  // namespace kestrix::cli
