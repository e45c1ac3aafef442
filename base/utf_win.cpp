#include "base/utf_win.h"

#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the platform's wide text is UTF-16");

std::wstring Widen(std::string_view text) {
    if (const auto wide = Utf16FromUtf8(text))
        return std::wstring(wide->begin(), wide->end());
    std::wstring latin;
    for (const char c : text)
        latin.push_back(static_cast<unsigned char>(c));
    return latin;
}

std::string Narrow(std::wstring_view text) {
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.data()), text.size());
    if (const auto utf8 = Utf8FromUtf16(units))
        return *utf8;
    std::u16string mended(units);
    for (std::size_t i = 0; i < mended.size(); ++i) {
        const char16_t c = mended[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < mended.size() && mended[i + 1] >= 0xDC00 && mended[i + 1] <= 0xDFFF)
            ++i;
        else if (high || (c >= 0xDC00 && c <= 0xDFFF))
            mended[i] = 0xFFFD;
    }
    return Utf8FromUtf16(mended).value_or(std::string());
}

std::string SystemErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text = length && buffer ? Narrow(std::wstring_view(buffer, length)) : std::string();
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string WindowText(void* window) {
    HWND control = static_cast<HWND>(window);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}
