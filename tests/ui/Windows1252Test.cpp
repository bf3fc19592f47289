#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>
#include <string>

#include "ui/Windows1252.h"

namespace moravel {
namespace {

// The C library's own CP1252 converter, as an independent reference; nothing
// when it does not know the byte (it leaves the five undefined ones out).
std::optional<std::string> IconvCp1252(char byte) {
    iconv_t converter = ::iconv_open("UTF-8", "CP1252");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    char input[1] = {byte};
    char output[8] = {};
    char* in = input;
    char* out = output;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof output;
    const std::size_t done = ::iconv(converter, &in, &inLeft, &out, &outLeft);
    ::iconv_close(converter);
    if (done == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    return std::string(output, sizeof output - outLeft);
}

TEST(Windows1252Test, AsciiPassesUnchanged) {
    EXPECT_EQ(Windows1252ToUtf8("VIDEO   .MPG"), "VIDEO   .MPG");
    EXPECT_EQ(Windows1252ToUtf8(""), "");
    EXPECT_EQ(Windows1252ToUtf8(std::string("a\x01\x7F", 3)), std::string("a\x01\x7F", 3));
}

TEST(Windows1252Test, KnownCharactersInUtf8) {
    EXPECT_EQ(Windows1252ToUtf8("Caf\xE9"), "Caf\u00E9");
    EXPECT_EQ(Windows1252ToUtf8("\x80"), "\u20AC");  // euro sign
    EXPECT_EQ(Windows1252ToUtf8("\x9F"), "\u0178");  // Y with diaeresis
    EXPECT_EQ(Windows1252ToUtf8("\x99"), "\u2122");  // trade mark
    EXPECT_EQ(Windows1252ToUtf8("\xA0"), "\u00A0");
    EXPECT_EQ(Windows1252ToUtf8("\xFF"), "\u00FF");
    EXPECT_EQ(Windows1252ToUtf8("R\xC9SUM\xC9"), "R\u00C9SUM\u00C9");
}

TEST(Windows1252Test, UndefinedBytesStandForC1Controls) {
    EXPECT_EQ(Windows1252ToUtf8("\x81"), "\u0081");
    EXPECT_EQ(Windows1252ToUtf8("\x8D"), "\u008D");
    EXPECT_EQ(Windows1252ToUtf8("\x8F"), "\u008F");
    EXPECT_EQ(Windows1252ToUtf8("\x90"), "\u0090");
    EXPECT_EQ(Windows1252ToUtf8("\x9D"), "\u009D");
}

TEST(Windows1252Test, EveryDefinedHighByteMatchesIconv) {
    if (!IconvCp1252('A')) {
        GTEST_SKIP() << "the C library has no CP1252 converter";
    }
    int compared = 0;
    for (int value = 0x80; value <= 0xFF; ++value) {
        const char byte = static_cast<char>(value);
        const auto expected = IconvCp1252(byte);
        if (!expected) {
            continue;  // one of the five undefined bytes
        }
        EXPECT_EQ(Windows1252ToUtf8(std::string(1, byte)), *expected) << std::hex << value;
        ++compared;
    }
    EXPECT_EQ(compared, 128 - 5);
}

}  // namespace
}  // namespace moravel
