// The built programs read back the way Windows reads them: the manifest through an activation
// context made from the file, the version record through the version functions.
#include "base/product.h"
#include "base/utf_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

struct Program {
    const char* path; // Unix path of the build tree; Wine's drive Z: is the root
    ACTCTX_REQUESTED_RUN_LEVEL runLevel;
};

const Program Programs[] = {{VIGREL_EXE, ACTCTX_RUN_LEVEL_AS_INVOKER},
                            {VIGRELTRAY_EXE, ACTCTX_RUN_LEVEL_AS_INVOKER},
                            {VIGRELRUN_EXE, ACTCTX_RUN_LEVEL_REQUIRE_ADMIN}};

std::wstring windowsPath(const char* unixPath) {
    return Widen(std::string("Z:") + unixPath);
}

std::string versionValue(const std::vector<char>& record, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = L"\\StringFileInfo\\040904B0\\" + Widen(name);
    if (!::VerQueryValueW(record.data(), key.c_str(), &value, &length) || length == 0)
        return "(missing)";
    return Narrow(static_cast<const wchar_t*>(value));
}

class ProgramResources : public testing::TestWithParam<Program> {};

TEST_P(ProgramResources, ManifestAsWindowsReadsIt) {
    const std::wstring file = windowsPath(GetParam().path);
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = file.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1); // CREATEPROCESS_MANIFEST_RESOURCE_ID
    HANDLE context = ::CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    EXPECT_TRUE(::QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level,
                               sizeof level, nullptr));
    EXPECT_EQ(level.RunLevel, GetParam().runLevel);
    EXPECT_EQ(level.UiAccess, 0u);

    wchar_t value[64] = {};
    SIZE_T written = 0;
    EXPECT_TRUE(::QueryActCtxSettingsW(0, context,
                                       L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                       L"dpiAwareness", value, 64, &written));
    EXPECT_EQ(Narrow(value), "PerMonitorV2");
    EXPECT_TRUE(::QueryActCtxSettingsW(0, context,
                                       L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                                       L"dpiAware", value, 64, &written));
    EXPECT_EQ(Narrow(value), "true");

    // Windows 10 and 11 among the supported systems. The answer's layout as today's SDK declares
    // it (and Wine gives it); the mingw headers still hold the shorter element of older systems.
    struct Element {
        GUID id;
        DWORD type;
        ULONGLONG maxVersionTested;
    };
    struct Compatibility {
        DWORD count;
        Element elements[8];
    } compatibility = {};
    ASSERT_TRUE(::QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext,
                               &compatibility, sizeof compatibility, nullptr));
    const GUID windows10 = {
        0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}};
    bool found = false;
    for (DWORD i = 0; i < compatibility.count && i < 8; ++i)
        found |= compatibility.elements[i].type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS &&
                 ::IsEqualGUID(compatibility.elements[i].id, windows10);
    EXPECT_TRUE(found);

    // Common controls 6: inside the context, comctl32.dll is redirected to the side-by-side one.
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(::ActivateActCtx(context, &cookie));
    ACTCTX_SECTION_KEYED_DATA data = {};
    data.cbSize = sizeof data;
    EXPECT_TRUE(::FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                           L"comctl32.dll", &data));
    ::DeactivateActCtx(0, cookie);
    ::ReleaseActCtx(context);
}

TEST_P(ProgramResources, VersionRecordOfTheProject) {
    const std::wstring file = windowsPath(GetParam().path);
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> record(size);
    ASSERT_TRUE(::GetFileVersionInfoW(file.c_str(), 0, size, record.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(VIGREL_VERSION_MINOR, VIGREL_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, VIGREL_VERSION_PATCH));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(versionValue(record, "ProductVersion"), VIGREL_VERSION);
    EXPECT_EQ(versionValue(record, "FileVersion"), VIGREL_VERSION);
    EXPECT_EQ(versionValue(record, "ProductName"), ProductName);
    EXPECT_EQ(versionValue(record, "CompanyName"), BrandName);
    const std::string path = GetParam().path;
    EXPECT_EQ(versionValue(record, "OriginalFilename"), path.substr(path.rfind('/') + 1));
    EXPECT_NE(versionValue(record, "FileDescription"), "(missing)");
}

INSTANTIATE_TEST_SUITE_P(Built, ProgramResources, testing::ValuesIn(Programs));

} // namespace
