// Messages to the user: quoted values stay short and on one line.
#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"
#include "runtime/text.h"

namespace {

TEST(Messages, QuotedValuesAreCutToEightyCharactersOnOneLine) {
  // Up to the limit a value is shown whole.
  const String eighty(80, u'a');
  EXPECT_EQ(QuotedName(eighty), "\"" + std::string(80, 'a') + "\"");
  // Beyond it: the first 59 and the last 20 characters joined by the ellipsis, however
  // long the value (10 MB here), so a file's suffix still shows.
  const String huge = String(10 * 1024 * 1024, u'b') + u"-hd2.png";
  EXPECT_EQ(QuotedName(huge), "\"" + std::string(59, 'b') + "\xE2\x80\xA6" +
                                  std::string(12, 'b') + "-hd2.png\"");
  EXPECT_EQ(TextFromUtf8(QuotedName(String(81, u'c'))).size(), 2u + 80u);
  // A character beyond the 16-bit range is never cut in half.
  String emoji = String(58, u'd') + u"\U0001F600" + String(40, u'e') + u"\U0001F600" +
                 String(19, u'f');
  const std::string shown = QuotedName(emoji);
  EXPECT_EQ(shown, "\"" + std::string(58, 'd') + "\xE2\x80\xA6" + std::string(19, 'f') + "\"");
  EXPECT_EQ(TextToUtf8(TextFromUtf8(shown)), shown);
  // Control characters would break the line or the terminal: they show as "?".
  EXPECT_EQ(QuotedName(u"a\tb\nc\x1B[2J"), "\"a?b?c?[2J\"");
  // DEL and the C1 characters too; the letters beyond them stay.
  EXPECT_EQ(QuotedName(u"a\x7F" u"b\x9B" u"c\x80\u00E9"), "\"a?b?c?\xC3\xA9\"");
}

TEST(Messages, ALineNeverWritesAControlCharacterRaw) {
  testing::internal::CaptureStderr();
  ReportLine("tab\there, escape \x1B[2J, delete \x7F, C1 \xC2\x9B" "1m, caf\xC3\xA9 \xE2\x80\xA6");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "tab?here, escape ?[2J, delete ?, C1 ?1m, caf\xC3\xA9 \xE2\x80\xA6\n");
}

}  // namespace
