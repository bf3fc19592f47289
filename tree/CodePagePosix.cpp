#include <iconv.h>

#include <cstdint>

#include "CodePageTable.h"
#include "NameText.h"

namespace moravel {

namespace {

// An open iconv conversion, closed when it goes.
struct Conversion {
    iconv_t handle;
    explicit Conversion(const char* from) : handle(::iconv_open("UTF-8", from)) {}
    ~Conversion() {
        if (Opened()) {
            ::iconv_close(handle);
        }
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    bool Opened() const { return handle != reinterpret_cast<iconv_t>(-1); }
};

// One byte of the code page through iconv; U+FFFD when it stands for nothing.
std::string DecodeByte(iconv_t handle, std::uint8_t byte) {
    char in[1] = {static_cast<char>(byte)};
    char out[16];
    char* inPointer = in;
    char* outPointer = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    ::iconv(handle, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
    if (::iconv(handle, &inPointer, &inLeft, &outPointer, &outLeft) ==
            static_cast<std::size_t>(-1) ||
        inLeft != 0) {
        std::string replacement;
        AppendUtf8(replacement, kReplacementCharacter);
        return replacement;
    }
    return std::string(out, static_cast<std::size_t>(outPointer - out));
}

}  // namespace

std::optional<std::array<std::string, 128>> SystemCodePageUpperHalf(unsigned number) {
    const Conversion conversion(("CP" + std::to_string(number)).c_str());
    if (!conversion.Opened()) {
        return std::nullopt;
    }
    std::array<std::string, 128> upper;
    for (std::size_t i = 0; i < upper.size(); ++i) {
        upper[i] = DecodeByte(conversion.handle, static_cast<std::uint8_t>(0x80 + i));
    }
    return upper;
}

}  // namespace moravel
