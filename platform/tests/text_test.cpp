#include "platform/text.h"

#include <gtest/gtest.h>

using platform::TextError;

TEST(Text, RoundTripsAcrossPlanes) {
  const std::string s = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";  // a é 中 😀 z
  const std::u16string w = platform::utf8ToUtf16(s);
  ASSERT_EQ(w.size(), 6u);  // the emoji is a surrogate pair
  EXPECT_EQ(w[3], 0xD83D);
  EXPECT_EQ(platform::utf16ToUtf8(w), s);
  EXPECT_EQ(platform::utf16Length(s), 6u);
}

TEST(Text, MalformedUtf8RaisesFailed) {
  const char* bad[] = {
      "\xC0\xAF",          // overlong "/"
      "\xE0\x80\xAF",      // overlong, three bytes
      "\xE4\xB8",          // truncated
      "abc\xF0\x9F\x98",   // truncated at the end
      "\x80",              // lone continuation byte
      "\xFF",              // never valid
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xC3(",             // lead byte followed by ASCII
  };
  for (const char* s : bad) {
    EXPECT_FALSE(platform::isValidUtf8(s)) << s;
    try {
      platform::utf8ToUtf16(s);
      ADD_FAILURE() << "accepted " << s;
    } catch (const TextError& e) {
      EXPECT_STREQ(e.what(), "Failed!");
    }
  }
}

TEST(Text, UnpairedSurrogatesRaiseFailed) {
  const std::u16string bad[] = {
      std::u16string(1, char16_t(0xD800)),                // high alone at the end
      std::u16string{char16_t(0xD800), u'a'},             // high then not-low
      std::u16string{u'a', char16_t(0xDC00)},             // low alone
      std::u16string{char16_t(0xDC00), char16_t(0xD800)}  // reversed pair
  };
  for (const auto& w : bad) EXPECT_THROW(platform::utf16ToUtf8(w), TextError);
}

TEST(Text, LowerCasingTouchesOnlyAscii) {
  EXPECT_EQ(platform::asciiLower("Home/ÄBC/Foo.TXT"), "home/Äbc/foo.txt");
  EXPECT_TRUE(platform::equalsIgnoreCase("Foo.Txt", "fOO.tXT"));
  EXPECT_FALSE(platform::equalsIgnoreCase("Ä", "ä"));
  EXPECT_FALSE(platform::equalsIgnoreCase("foo", "fo"));
}
