// The text conversion gives what WideCharToMultiByte(CP_UTF8, 0) gives for a NUL-terminated string.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace {

std::string platformUtf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string out(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
}

TEST(WideToUtf8Platform, AgreesWithWideCharToMultiByte) {
    const std::wstring cases[] = {
        L"",
        std::wstring(L"\0abc", 4),
        std::wstring(L"ab\0cd", 5),
        L"C:\\Program Files\\Player\\player.exe",
        L"Caf\u00e9 \u20ac \u4e2d\u6587",
        std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)},
        std::wstring{wchar_t(0xD83D), L'a'},
        std::wstring{L'a', wchar_t(0xDE00), L'b'},
        std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)},
        std::wstring{wchar_t(0xFFFF), wchar_t(0x0001)},
    };
    for (const auto& text : cases) {
        EXPECT_EQ(wideToUtf8(text), platformUtf8(text)) << "case of " << text.size() << " code units";
    }
}

}  // namespace
