#pragma once

#include "SystemdSandbox.h"

#include <gtest/gtest.h>

// A developer's timers in a sandboxed user manager: two enabled ones (a calendar timer whose
// oneshot service fails with exit status 3, and a monotonic timer that starts a long-running
// service of another name), a disabled one, one whose service refuses a manual start, and a
// template that only its instances would run.
inline void writeExampleTimers(const SystemdSandbox& sandbox)
{
    const QString install = QStringLiteral("[Install]\nWantedBy=timers.target\n");
    sandbox.writeUnit("report.timer", "[Unit]\nDescription=Nightly report\n[Timer]\n"
                                      "OnCalendar=Mon..Fri 09:00\nOnCalendar=*-*-* 21:00\n" +
                                          install);
    sandbox.writeUnit("report.service", "[Service]\nType=oneshot\nExecStart=/bin/sh -c 'exit 3'\n");
    sandbox.writeUnit("poll.timer", "[Timer]\nOnUnitActiveSec=2h\nOnBootSec=15min\n"
                                    "Unit=poller.service\n" +
                                        install);
    sandbox.writeUnit("poller.service",
                      "[Unit]\nDescription=Mail poller\n[Service]\nExecStart=/bin/sleep 300\n");
    sandbox.writeUnit("cleanup.timer", "[Timer]\nOnCalendar=weekly\n" + install);
    sandbox.writeUnit("cleanup.service", "[Service]\nType=oneshot\n"
                                         "ExecStart=/bin/echo \"a b\" \"\" \"it's\"\n");
    sandbox.writeUnit("locked.timer", "[Timer]\nOnCalendar=hourly\n" + install);
    sandbox.writeUnit("locked.service",
                      "[Unit]\nRefuseManualStart=yes\n[Service]\nExecStart=/bin/true\n");
    sandbox.writeUnit("tmpl@.timer", "[Timer]\nOnCalendar=daily\n" + install);
    sandbox.systemctl({QStringLiteral("daemon-reload")});
    sandbox.systemctl({QStringLiteral("enable"), QStringLiteral("--now"),
                       QStringLiteral("report.timer"), QStringLiteral("poll.timer"),
                       QStringLiteral("locked.timer")});
}

// A test suite over one sandboxed manager with the example timers, shared by its tests. Where no
// manager can start, each test says why and skips; after each, the manager must not have taken
// anything that was not its own.
class ExampleTimersSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (SystemdSandbox::unavailableReason())
            return;
        sandbox = new SystemdSandbox;
        if (sandbox->isRunning())
            writeExampleTimers(*sandbox);
    }
    static void TearDownTestSuite()
    {
        delete sandbox;
        sandbox = nullptr;
    }
    void SetUp() override
    {
        if (const auto reason = SystemdSandbox::unavailableReason())
            GTEST_SKIP() << reason->toStdString();
        ASSERT_TRUE(sandbox->isRunning()) << sandbox->error().toStdString();
    }
    void TearDown() override
    {
        if (sandbox) {
            EXPECT_TRUE(sandbox->tookOnlyItsOwnProcesses());
        }
    }

    static inline SystemdSandbox* sandbox = nullptr;
};
