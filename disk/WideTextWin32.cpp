#include <windows.h>

#include <algorithm>

#include "WideText.h"

namespace moravel {

namespace {

std::wstring Widen(const std::string& text, UINT codePage, DWORD flags) {
    if (text.empty()) {
        return {};
    }
    const int length = ::MultiByteToWideChar(codePage, flags, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

}  // namespace

std::wstring WidePath(const std::string& utf8) {
    std::wstring wide = Widen(utf8, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (wide.empty() && !utf8.empty()) {
        wide = Widen(utf8, CP_ACP, 0);
    }
    // A path of MAX_PATH or more reaches its file only in the long form
    // (\\?\C:\...), which the system takes as it is: its separators are made
    // backslashes. A recording's name of 255 characters in a deep folder needs it.
    const bool onDrive =
        wide.size() > 2 && wide[1] == L':' && (wide[2] == L'\\' || wide[2] == L'/');
    if (wide.size() >= MAX_PATH && onDrive) {
        std::replace(wide.begin(), wide.end(), L'/', L'\\');
        wide.insert(0, L"\\\\?\\");
    }
    return wide;
}

std::string NarrowText(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                          length, nullptr, nullptr);
    return text;
}

std::string SystemMessage(unsigned long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
            return "Permission denied";
        default:
            break;
    }
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(code) : NarrowText(text);
}

}  // namespace moravel
