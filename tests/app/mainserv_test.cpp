#include "app/mainserv.h"

#include <gtest/gtest.h>

TEST(Switches, PrefixCaseAndWholeWord) {
    EXPECT_TRUE(FindCmdLineSwitch({"-uninstall"}, "UNINSTALL"));
    EXPECT_TRUE(FindCmdLineSwitch({"/UNINSTALL"}, "UNINSTALL"));
    EXPECT_TRUE(FindCmdLineSwitch({"x", "/InStAlL"}, "INSTALL"));
    EXPECT_FALSE(FindCmdLineSwitch({"-installx"}, "INSTALL"));
    EXPECT_FALSE(FindCmdLineSwitch({"install"}, "INSTALL"));
    EXPECT_FALSE(FindCmdLineSwitch({"--install"}, "INSTALL"));
    EXPECT_FALSE(FindCmdLineSwitch({"-uninstall"}, "INSTALL"));
    EXPECT_FALSE(FindCmdLineSwitch({"-", "/", ""}, ""));
    EXPECT_FALSE(FindCmdLineSwitch({}, "SILENT"));
}

TEST(StatusReport, CheckpointCountsRepeatedPendingStatesOnly) {
    StatusReportRule rule;
    ServiceStatusRecord r = rule.Next(csStartPending);
    EXPECT_EQ(r.checkPoint, 0u);
    EXPECT_EQ(r.controlsAccepted, 0u);
    EXPECT_EQ(r.serviceType, 0x110u);
    EXPECT_EQ(r.waitHint, 5000u);
    EXPECT_EQ(rule.Next(csStartPending).checkPoint, 1u);
    EXPECT_EQ(rule.Next(csStartPending).checkPoint, 2u);
    r = rule.Next(csRunning);
    EXPECT_EQ(r.checkPoint, 0u);
    EXPECT_EQ(r.controlsAccepted, 7u);
    // Running twice is no progress to count.
    EXPECT_EQ(rule.Next(csRunning).checkPoint, 0u);
    EXPECT_EQ(rule.Next(csPausePending).checkPoint, 0u);
    EXPECT_EQ(rule.Next(csPaused).checkPoint, 0u);
    EXPECT_EQ(rule.Next(csContinuePending).checkPoint, 0u);
    EXPECT_EQ(rule.Next(csContinuePending).checkPoint, 1u);
    // A different pending state starts afresh.
    EXPECT_EQ(rule.Next(csStopPending).checkPoint, 0u);
    EXPECT_EQ(rule.Next(csStopPending).checkPoint, 1u);
    r = rule.Next(csStopped);
    EXPECT_EQ(r.checkPoint, 0u);
    EXPECT_EQ(r.win32ExitCode, 0u);
    EXPECT_EQ(rule.State(), static_cast<std::uint32_t>(csStopped));
}

TEST(Texts, RegistrationAndFailureTexts) {
    EXPECT_EQ(InstallFailedText("Vigrel", "The specified service already exists."),
              "Service \"Vigrel\" failed to install with error: \"The specified service already "
              "exists.\"");
    EXPECT_EQ(UninstallFailedText("Vigrel", "x"),
              "Service \"Vigrel\" failed to uninstall with error: \"x\"");
    EXPECT_EQ(ServiceFailedText("start", "boom"), "Service failed on start: boom");
    EXPECT_EQ(ServiceFailedText(1u, "m"), "Service failed on stop: m");
    EXPECT_EQ(ServiceFailedText(5u, "m"), "Service failed on shutdown: m");
    EXPECT_EQ(ServiceFailedText(200u, "m"), "Service failed in custom message(200): m");
    EXPECT_EQ(ServiceFailedText(0u, "m"), "Service failed in custom message(0): m");
}

TEST(Texts, ApplicationErrorAddsAFullStopOnlyWhenMissing) {
    const std::string a = ApplicationErrorText("Exception", "Vigrel.exe", nullptr, "Bad thing");
    EXPECT_EQ(a.substr(0, 37), "Exception Exception in module Vigrel.");
    EXPECT_EQ(a.substr(a.size() - 12), ".\nBad thing.");
    const std::string b = ApplicationErrorText("E", "m", nullptr, "Done.");
    EXPECT_EQ(b.substr(b.size() - 7), ".\nDone.");
    const std::string c = ApplicationErrorText("E", "m", nullptr, "");
    EXPECT_EQ(c.substr(c.size() - 3), ".\n.");
}

TEST(Paths, QuotedBinaryPathAndTitles) {
    EXPECT_EQ(QuotedBinaryPath("C:\\Program Files\\Vigrel\\Vigrel.exe"),
              "\"C:\\Program Files\\Vigrel\\Vigrel.exe\"");
    EXPECT_EQ(ApplicationTitle("C:\\a b\\Vigrel.exe"), "Vigrel");
    EXPECT_EQ(ProgramFileName("C:\\a b\\Vigrel.exe"), "Vigrel.exe");
    EXPECT_EQ(ApplicationTitle("Vigrel"), "Vigrel");
}
