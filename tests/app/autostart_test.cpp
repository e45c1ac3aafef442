// SetAutoStart against the real service manager, on a throwaway service of this test.
#include "app/autostart_win.h"

#include "base/handle_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Config {
    DWORD serviceType, startType, errorControl;
    std::string binary, group, dependencies, account, display;
};

class AutoStart : public ::testing::Test {
protected:
    void SetUp() override {
        name = "VigrelAutoStartTest" + std::to_string(::GetCurrentProcessId());
        manager.Reset(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager);
    }
    void TearDown() override { Delete(); }

    void Install(DWORD startType, const char* dependencies = nullptr) {
        ScopedServiceHandle s(
            ::CreateServiceA(manager.Get(), name.c_str(), "Throwaway display", SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, startType,
                             SERVICE_ERROR_IGNORE, "C:\\folder with blank\\prog.exe /x",
                             "SomeGroup", nullptr, dependencies, nullptr, nullptr));
        ASSERT_TRUE(s) << ::GetLastError();
    }
    void Delete() {
        ScopedServiceHandle s(::OpenServiceA(manager.Get(), name.c_str(), DELETE));
        if (s)
            ::DeleteService(s.Get());
    }
    Config Query() {
        ScopedServiceHandle s(::OpenServiceA(manager.Get(), name.c_str(), SERVICE_QUERY_CONFIG));
        DWORD needed = 0;
        ::QueryServiceConfigA(s.Get(), nullptr, 0, &needed);
        std::vector<BYTE> buf(needed);
        auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
        EXPECT_TRUE(::QueryServiceConfigA(s.Get(), c, needed, &needed));
        std::string deps;
        for (const char* p = c->lpDependencies; p && *p; p += strlen(p) + 1)
            deps += std::string(p) + ";";
        return {c->dwServiceType,
                c->dwStartType,
                c->dwErrorControl,
                c->lpBinaryPathName,
                c->lpLoadOrderGroup ? c->lpLoadOrderGroup : "",
                deps,
                c->lpServiceStartName ? c->lpServiceStartName : "",
                c->lpDisplayName};
    }
    static void ExpectSameExceptStart(const Config& a, const Config& b) {
        EXPECT_EQ(a.serviceType, b.serviceType);
        EXPECT_EQ(a.errorControl, b.errorControl);
        EXPECT_EQ(a.binary, b.binary);
        EXPECT_EQ(a.group, b.group);
        EXPECT_EQ(a.dependencies, b.dependencies);
        EXPECT_EQ(a.account, b.account);
        EXPECT_EQ(a.display, b.display);
    }

    std::string name;
    ScopedServiceHandle manager;
};

} // namespace

TEST_F(AutoStart, SwitchesBetweenAutomaticAndDemandChangingNothingElse) {
    Install(SERVICE_DEMAND_START, "Tcpip\0Afd\0");
    const Config before = Query();
    ASSERT_EQ(before.serviceType, static_cast<DWORD>(0x110));

    EXPECT_TRUE(SetAutoStart(true, name.c_str()));
    const Config on = Query();
    EXPECT_EQ(on.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    ExpectSameExceptStart(before, on);

    EXPECT_TRUE(SetAutoStart(false, name.c_str()));
    const Config off = Query();
    EXPECT_EQ(off.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    ExpectSameExceptStart(before, off);
}

TEST_F(AutoStart, DisabledServiceIsSetBack) {
    Install(SERVICE_DISABLED);
    EXPECT_TRUE(SetAutoStart(true, name.c_str()));
    EXPECT_EQ(Query().startType, static_cast<DWORD>(SERVICE_AUTO_START));
    Delete();
    Install(SERVICE_DISABLED);
    EXPECT_TRUE(SetAutoStart(false, name.c_str()));
    EXPECT_EQ(Query().startType, static_cast<DWORD>(SERVICE_DEMAND_START));
}

TEST_F(AutoStart, ServiceNotInstalledIsFalse) {
    EXPECT_FALSE(SetAutoStart(true, name.c_str()));
    EXPECT_FALSE(SetAutoStart(false, name.c_str()));
}
