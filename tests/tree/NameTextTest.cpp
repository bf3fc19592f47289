#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tree/NameText.h"

namespace moravel {
namespace {

TEST(NameTextTest, CaseFoldsLatinGreekAndCyrillicCapitals) {
    EXPECT_EQ(FoldCase("NEWS0518.TS"), "news0518.ts");
    EXPECT_EQ(FoldCase("\u00C4RGER \u00DCBER \u0152UVRE \u0178"),
              "\u00E4rger \u00FCber \u0153uvre \u00FF");
    EXPECT_EQ(FoldCase("\u0141\u00D3D\u0179 \u0106"), "\u0142\u00F3d\u017A \u0107");
    EXPECT_EQ(FoldCase("\u0424\u0418\u041B\u042C\u041C \u0401\u0416"),
              "\u0444\u0438\u043B\u044C\u043C \u0451\u0436");
    EXPECT_EQ(FoldCase("\u0394\u0395\u039B\u03A4\u0391"), "\u03B4\u03B5\u03BB\u03C4\u03B1");
    // No case: as they are; the multiplication sign is no capital.
    EXPECT_EQ(FoldCase("\u65E5\u672C \u00D7 \U0001F3AC"), "\u65E5\u672C \u00D7 \U0001F3AC");
    // A byte that is no part of UTF-8 stays what it is and matches nothing else.
    EXPECT_EQ(FoldCase("R\xC9SUM\xC9"), "r\xC9sum\xC9");
    EXPECT_NE(FoldCase("R\xC9SUM\xC9"), FoldCase("R\u00C9SUM\u00C9"));
}

TEST(NameTextTest, NamesSortWithoutRegardToCaseThenByCodePoint) {
    std::vector<std::string> names = {
        "zebra.ts",     "\u20ACuro.ts", "B.ts",    "\u00DCber.ts", "a.ts",
        "\u00FCber.ts", "x\xFF",        "x\u65E5", "A.ts",         ""};
    std::stable_sort(names.begin(), names.end(), FoldedLess);
    EXPECT_EQ(names,
              (std::vector<std::string>{"", "a.ts", "A.ts", "B.ts", "x\u65E5", "x\xFF", "zebra.ts",
                                        "\u00DCber.ts", "\u00FCber.ts", "\u20ACuro.ts"}));
}

TEST(NameTextTest, Utf16BecomesUtf8) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"A\u00E9\u20AC\U0001F3AC")), "A\u00E9\u20AC\U0001F3AC");
    const std::u16string lone = {u'x', char16_t{0xDC00}, char16_t{0xD800}};
    EXPECT_EQ(Utf16ToUtf8(lone), "x\uFFFD\uFFFD");
}

}  // namespace
}  // namespace moravel
