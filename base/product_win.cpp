#include "base/product_win.h"

#include "base/utf_win.h"

#include <windows.h>

#include <shellapi.h>

void OpenProductWebSite() {
    ::ShellExecuteW(nullptr, L"open", Widen(ProductWebSite).c_str(), nullptr, nullptr,
                    SW_SHOWNORMAL);
}
