#include "base/product_win.h"

#include <windows.h>

#include <shellapi.h>

void OpenProductWebSite() {
    ::ShellExecuteA(nullptr, "open", ProductWebSite, nullptr, nullptr, SW_SHOWNORMAL);
}
