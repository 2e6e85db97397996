// Native name bytes <-> UTF-16 units: valid UTF-8 maps to code points,
// every other byte to a lone 0xDC80..0xDCFF unit, and every byte string
// comes back unchanged.
#include "platform/text_conversion.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

namespace qex {
namespace {

TEST(TextConversion, ValidUtf8BecomesCodePointsAndInvalidBytesEscapeUnitsOneByOne) {
    EXPECT_EQ(nativeToUtf16("a.txt"), u"a.txt");
    // U+00E9 (2 bytes), U+0800 and U+0FFF (3 bytes starting 0xE0), U+20AC.
    EXPECT_EQ(nativeToUtf16("\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(nativeToUtf16("\xE0\xA0\x80\xE0\xBF\xBF"), u"\u0800\u0FFF");
    EXPECT_EQ(nativeToUtf16("\xE2\x82\xAC"), u"\u20AC");
    // U+1F600 (4 bytes) is the pair D83D DE00; U+10FFFF is DBFF DFFF.
    EXPECT_EQ(nativeToUtf16("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
    EXPECT_EQ(nativeToUtf16("\xF4\x8F\xBF\xBF"), std::u16string({0xDBFF, 0xDFFF}));
    // Every other byte becomes an escape unit, one by one.
    // Stray continuation, lone lead, truncated sequence at the end.
    EXPECT_EQ(nativeToUtf16("\x80"), std::u16string({0xDC80}));
    EXPECT_EQ(nativeToUtf16("a\xC3" "b"), std::u16string({'a', 0xDCC3, 'b'}));
    EXPECT_EQ(nativeToUtf16("\xE2\x82"), std::u16string({0xDCE2, 0xDC82}));
    // Overlong forms of '/' and of U+0000.
    EXPECT_EQ(nativeToUtf16("\xC0\xAF"), std::u16string({0xDCC0, 0xDCAF}));
    EXPECT_EQ(nativeToUtf16("\xE0\x80\x80"), std::u16string({0xDCE0, 0xDC80, 0xDC80}));
    // An encoded surrogate (U+D800) is not valid UTF-8.
    EXPECT_EQ(nativeToUtf16("\xED\xA0\x80"), std::u16string({0xDCED, 0xDCA0, 0xDC80}));
    // Above U+10FFFF, and bytes that never occur in UTF-8.
    EXPECT_EQ(nativeToUtf16("\xF4\x90\x80\x80"), std::u16string({0xDCF4, 0xDC90, 0xDC80, 0xDC80}));
    EXPECT_EQ(nativeToUtf16("\xFF\xFE"), std::u16string({0xDCFF, 0xDCFE}));
    // After a supplementary character (U+10080) an escape stays one.
    EXPECT_EQ(nativeToUtf16("\xF0\x90\x82\x80\x80"), std::u16string({0xD800, 0xDC80, 0xDC80}));
}

TEST(TextConversion, ArbitraryByteStringsRoundTrip) {
    // Every single byte, every three bytes from a set rich in edge values,
    // then random strings biased towards high bytes.
    for (int b = 1; b < 256; ++b) {
        const std::string s(1, static_cast<char>(b));
        ASSERT_EQ(utf16ToNative(nativeToUtf16(s)), s) << b;
    }
    const unsigned char edge[] = {0x01, 0x2F, 0x7F, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xED,
                                  0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0xA0, 0x8F, 0x90, 0x9F};
    for (unsigned char x : edge)
        for (unsigned char y : edge)
            for (unsigned char z : edge) {
                const std::string s{static_cast<char>(x), static_cast<char>(y), static_cast<char>(z)};
                ASSERT_EQ(utf16ToNative(nativeToUtf16(s)), s);
            }
    std::mt19937 rng(42);
    for (int round = 0; round < 3000; ++round) {
        std::string s(rng() % 24, '\0');
        for (auto& c : s) c = static_cast<char>(rng() % 3 ? 0x80 + rng() % 128 : 1 + rng() % 255);
        ASSERT_EQ(utf16ToNative(nativeToUtf16(s)), s);
    }
}

TEST(TextConversion, LoneSurrogatesFromOtherSystemsTakeThreeByteFormAndAPairIsNoEscape) {
    // U+10080 ends in the low surrogate DC80, which must pair up rather than
    // be taken for the escaped byte 0x80; the following real escape stays one.
    EXPECT_EQ(utf16ToNative(std::u16string({0xD800, 0xDC80, 0xDC80})), "\xF0\x90\x82\x80\x80");
    EXPECT_EQ(utf16ToNative(std::u16string({'x', 0xD800})), "x\xED\xA0\x80");
    EXPECT_EQ(utf16ToNative(std::u16string({0xDFFF, 'y'})), "\xED\xBF\xBF" "y");
    // A low surrogate below the escape range is not an escaped byte.
    EXPECT_EQ(utf16ToNative(std::u16string({0xDC7F})), "\xED\xB1\xBF");
    // Reversed pair: two lone surrogates.
    EXPECT_EQ(utf16ToNative(std::u16string({0xDE00, 0xD83D})), "\xED\xB8\x80\xED\xA0\xBD");
}

TEST(TextConversion, ConsoleTextIsStrictUtf8WithControlsAndUndecodableBytesAsEscapes) {
    EXPECT_EQ(utf16ToUtf8(std::u16string({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(u"\u0800"), "\xE0\xA0\x80");
    // Lone surrogates, escaped bytes included, are shown as U+FFFD.
    EXPECT_EQ(utf16ToUtf8(std::u16string({'a', 0xDC80, 0xD800})), "a\xEF\xBF\xBD\xEF\xBF\xBD");
    // ESC [ 2 J clears a terminal; a line feed or carriage return would fake
    // a line; DEL, the C1 control CSI (U+009B) and a byte that is not UTF-8
    // cannot be shown. A backslash is doubled so that every escape is unique.
    EXPECT_EQ(nativeToConsole("x\033[2J\tcl\nea\rr\x7F\xC2\x9B\xFF\\z"),
              "x\\033[2J\\tcl\\nea\\rr\\177\\u009b\\xff\\\\z");
    // Printable text beyond ASCII, a supplementary character included, is
    // kept; U+00A0 is the first character past the C1 controls.
    EXPECT_EQ(nativeToConsole("\xC3\xA9\xC2\xA0\xF0\x9F\x98\x80"), "\xC3\xA9\xC2\xA0\xF0\x9F\x98\x80");
    // Escapes first and last, a pair between plain runs: the runs are copied
    // whole, and nothing is lost or repeated at their edges.
    EXPECT_EQ(nativeToConsole("\ta\xF0\x9F\x98\x80" "b\n"), "\\ta\xF0\x9F\x98\x80" "b\\n");
    // A lone surrogate from another system's name shows as the unit.
    EXPECT_EQ(consoleText(std::u16string({'a', 0xD800, 0x01})), "a\\ud800\\001");
}

// Long names are looked at eight units at a time: every unit that must be
// escaped is caught at every place of a block, and the units just outside
// each escaped range pass unchanged.
TEST(TextConversion, EveryEscapeIsFoundAtEveryPlaceOfALongName) {
    const std::pair<char16_t, std::u16string> cases[] = {
        {0x00, u"\\000"},   {0x1F, u"\\037"},   {u'\t', u"\\t"},    {0x7F, u"\\177"},
        {0x80, u"\\u0080"}, {0x9F, u"\\u009f"}, {0xD800, u"\\ud800"}, {0xDC80, u"\\x80"},
        {0xDFFF, u"\\udfff"}, {u'\\', u"\\\\"}, {0x20, u" "},       {0x7E, u"~"},
        {0xA0, u"\u00a0"},   {0xD7FF, u"\ud7ff"}, {0xE000, u"\ue000"},
    };
    for (const auto& [unit, shown] : cases) {
        for (size_t place = 0; place < 20; ++place) {
            SCOPED_TRACE(testing::Message() << "unit " << unsigned(unit) << " at " << place);
            std::u16string name(20, u'a');
            name[place] = unit;
            const std::u16string expected = std::u16string(place, u'a') + shown + std::u16string(19 - place, u'a');
            EXPECT_EQ(escapedForConsole(name), expected);
        }
    }
}

}  // namespace
}  // namespace qex
