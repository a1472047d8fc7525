#include "support/TestSupport.h"

#include "platform/device/DeviceProfile.h"
#include "platform/device/Reachability.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/NotificationCenter.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace platform;

namespace {

const bool kResetHook = testsupport::onEachTestStart([] { DeviceProfile::resetForTesting(); });

// A fake /proc/net/route and /sys/class/net under the test home.
struct FakeNetwork {
    QString root = testsupport::testHome() + "/fakeroot";

    // Rows of {interface, metric, flags}; every row is a default route.
    void routes(const QList<std::tuple<QString, int, int>>& rows) const
    {
        QByteArray table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
        for (const auto& [iface, metric, flags] : rows)
            table += QStringLiteral("%1\t00000000\t0101A8C0\t%3\t0\t0\t%2\t00000000\t0\t0\t0\n")
                         .arg(iface).arg(metric).arg(flags, 4, 16, QLatin1Char('0')).toUtf8();
        writeFileAtomically(root + "/proc/net/route", table);
    }
    void interface(const QString& name, const char* operstate, bool wireless = false) const
    {
        const QString dir = root + "/sys/class/net/" + name;
        writeFileAtomically(dir + "/operstate", QByteArray(operstate) + '\n');
        writeFileAtomically(dir + "/type", "1\n");
        if (wireless)
            QDir().mkpath(dir + "/wireless");
    }
};

} // namespace

TEST(DeviceProfile, DefaultsEnvironmentOverridesAndScreens)
{
    qunsetenv("KORVANE_MACHINE");
    qunsetenv("KORVANE_SYSTEM_VERSION");
    EXPECT_EQ(DeviceProfile::machine(), "iPhone10,1");
    EXPECT_EQ(DeviceProfile::systemVersion(), "16.7");
    EXPECT_EQ(DeviceProfile::systemMajorVersion(), 16);
    qputenv("KORVANE_MACHINE", "iPad8,1");
    qputenv("KORVANE_SYSTEM_VERSION", "9.3.5");
    EXPECT_TRUE(DeviceProfile::isPad());
    EXPECT_EQ(DeviceProfile::systemMajorVersion(), 9);
    DeviceProfile::setMachineForTesting("iPhone3,1");
    DeviceProfile::setSystemVersionForTesting("beta");
    EXPECT_FALSE(DeviceProfile::isPad());
    EXPECT_EQ(DeviceProfile::systemMajorVersion(), 0);
    DeviceProfile::resetForTesting();
    EXPECT_EQ(DeviceProfile::machine(), "iPad8,1") << "back to the environment";
    qunsetenv("KORVANE_MACHINE");
    qunsetenv("KORVANE_SYSTEM_VERSION");

    const std::tuple<const char*, QSizeF, qreal> screens[] = {
        {"iPhone10,1", {375, 667}, 2}, {"iPhone3,1", {320, 480}, 2},  {"iPhone1,1", {320, 480}, 1},
        {"iPhone10,3", {375, 812}, 3}, {"iPad8,1", {768, 1024}, 2},   {"iPad2,5", {768, 1024}, 1},
        {"x86_64", {375, 667}, 2},
    };
    for (const auto& [machine, size, scale] : screens) {
        DeviceProfile::setMachineForTesting(machine);
        EXPECT_EQ(DeviceProfile::screenSize(), size) << machine;
        EXPECT_EQ(DeviceProfile::screenScale(), scale) << machine;
    }
}

TEST(Reachability, ReadsTheDefaultRouteAndPostsOnChange)
{
    const FakeNetwork net;
    net.interface("eth0", "up");
    net.interface("wlp2s0", "up", true);
    net.interface("wwan0", "up");
    net.interface("lan1", "down");
    Reachability r;
    r.setRootForTesting(net.root);
    EXPECT_EQ(r.currentStatus(), NetworkStatus::None) << "no route table at all";

    struct Case {
        QList<std::tuple<QString, int, int>> routes;
        NetworkStatus status;
    };
    const Case cases[] = {
        {{{"wwan0", 700, 3}}, NetworkStatus::Cellular},
        {{{"wwan0", 700, 3}, {"wlp2s0", 600, 3}}, NetworkStatus::WiFi},  // the lower metric wins
        {{{"eth0", 100, 3}}, NetworkStatus::WiFi},                       // wired counts as WiFi
        {{{"lan1", 100, 3}}, NetworkStatus::None},                       // interface down
        {{{"wwan0", 0, 0}}, NetworkStatus::None},                        // route not up
        {{{"../../../etc", 0, 3}}, NetworkStatus::None},
        {{}, NetworkStatus::None},
    };
    for (const Case& c : cases) {
        net.routes(c.routes);
        EXPECT_EQ(r.currentStatus(), c.status) << (c.routes.isEmpty() ? "" : qPrintable(std::get<0>(c.routes[0])));
    }
    // A local route is no way out; a damaged table reads as no route.
    for (const QByteArray& table : {QByteArray("Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
                                               "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"),
                                    QByteArray("\x00\xff garbage\n\t\t\n", 14)}) {
        writeFileAtomically(net.root + "/proc/net/route", table);
        EXPECT_EQ(r.currentStatus(), NetworkStatus::None);
    }

    net.routes({{"wlp2s0", 0, 3}});
    int posts = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        "PlatformReachabilityChangedNotification", &r, [&](const Notification&) { ++posts; });
    r.startMonitoring();
    r.refresh();
    EXPECT_EQ(posts, 0) << "the first reading is the baseline, and nothing changed since";
    net.routes({{"wwan0", 0, 3}});
    r.refresh();
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(r.lastStatus(), NetworkStatus::Cellular);
    net.routes({});
    KR_WAIT_UNTIL(posts == 2);  // the monitor notices by itself
    EXPECT_EQ(r.lastStatus(), NetworkStatus::None);
    r.stopMonitoring();
}
