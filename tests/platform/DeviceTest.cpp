#include "support/TestSupport.h"

#include "platform/device/DeviceProfile.h"
#include "platform/device/Reachability.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/NotificationCenter.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace platform;

namespace {

const bool kResetHook = [] {
    testsupport::onEachTestStart([] {
        DeviceProfile::resetForTesting();
        Reachability::shared().stopMonitoring();
        Reachability::shared().setRootForTesting({});
    });
    return true;
}();

// A fake /proc and /sys under the test home.
class FakeNetwork {
public:
    FakeNetwork() : m_root(testsupport::testHome() + QStringLiteral("/fakeroot")) {}
    QString root() const { return m_root; }

    void routes(const QList<QStringList>& rows)
    {
        QByteArray table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
        for (const QStringList& r : rows)
            table += r.join(u'\t').toUtf8() + '\n';
        writeFileAtomically(m_root + QStringLiteral("/proc/net/route"), table);
    }
    // iface, default?, metric, up?
    static QStringList route(const QString& iface, bool isDefault, int metric = 0, bool up = true)
    {
        return {iface, isDefault ? QStringLiteral("00000000") : QStringLiteral("0000A8C0"), QStringLiteral("0101A8C0"),
                up ? QStringLiteral("0003") : QStringLiteral("0000"), QStringLiteral("0"), QStringLiteral("0"),
                QString::number(metric), isDefault ? QStringLiteral("00000000") : QStringLiteral("00FFFFFF"),
                QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
    }
    void interface(const QString& name, const QString& operstate, bool wireless = false, const QString& type = QStringLiteral("1"))
    {
        const QString dir = m_root + QStringLiteral("/sys/class/net/") + name;
        writeFileAtomically(dir + QStringLiteral("/operstate"), operstate.toUtf8() + '\n');
        writeFileAtomically(dir + QStringLiteral("/type"), type.toUtf8() + '\n');
        if (wireless)
            QDir().mkpath(dir + QStringLiteral("/wireless"));
    }

private:
    QString m_root;
};

} // namespace

TEST(DeviceProfile, DefaultsEnvironmentAndOverrides)
{
    qunsetenv("KORVANE_MACHINE");
    qunsetenv("KORVANE_SYSTEM_VERSION");
    EXPECT_EQ(DeviceProfile::machine(), QStringLiteral("iPhone10,1"));
    EXPECT_EQ(DeviceProfile::systemVersion(), QStringLiteral("16.7"));
    EXPECT_EQ(DeviceProfile::systemMajorVersion(), 16);
    EXPECT_FALSE(DeviceProfile::isPad());
    EXPECT_EQ(DeviceProfile::screenSize(), QSizeF(375, 667));
    EXPECT_EQ(DeviceProfile::screenScale(), 2.0);

    qputenv("KORVANE_MACHINE", "iPad8,1");
    qputenv("KORVANE_SYSTEM_VERSION", "9.3.5");
    EXPECT_TRUE(DeviceProfile::isPad());
    EXPECT_EQ(DeviceProfile::systemMajorVersion(), 9);
    EXPECT_EQ(DeviceProfile::screenSize(), QSizeF(768, 1024));

    DeviceProfile::setMachineForTesting(QStringLiteral("iPhone3,1"));
    DeviceProfile::setSystemVersionForTesting(QStringLiteral("4.3"));
    EXPECT_EQ(DeviceProfile::machine(), QStringLiteral("iPhone3,1"));
    EXPECT_EQ(DeviceProfile::systemMajorVersion(), 4);
    EXPECT_EQ(DeviceProfile::screenSize(), QSizeF(320, 480));
    EXPECT_EQ(DeviceProfile::screenScale(), 2.0);
    DeviceProfile::setMachineForTesting(QStringLiteral("iPhone10,3"));
    EXPECT_EQ(DeviceProfile::screenSize(), QSizeF(375, 812));
    EXPECT_EQ(DeviceProfile::screenScale(), 3.0);
    DeviceProfile::setMachineForTesting(QStringLiteral("iPhone1,1"));
    EXPECT_EQ(DeviceProfile::screenScale(), 1.0);
    DeviceProfile::setMachineForTesting(QStringLiteral("x86_64"));
    EXPECT_EQ(DeviceProfile::screenSize(), QSizeF(375, 667));
    DeviceProfile::setSystemVersionForTesting(QStringLiteral("beta"));
    EXPECT_EQ(DeviceProfile::systemMajorVersion(), 0);

    DeviceProfile::resetForTesting();
    EXPECT_EQ(DeviceProfile::machine(), QStringLiteral("iPad8,1"));
    qunsetenv("KORVANE_MACHINE");
    qunsetenv("KORVANE_SYSTEM_VERSION");
}

TEST(Reachability, ReadsTheDefaultRouteFromAFakeTree)
{
    FakeNetwork net;
    Reachability& r = Reachability::shared();
    r.setRootForTesting(net.root());
    EXPECT_EQ(r.currentStatus(), NetworkStatus::None) << "no route table at all";

    net.interface(QStringLiteral("eth0"), QStringLiteral("up"));
    net.interface(QStringLiteral("wlp2s0"), QStringLiteral("up"), true);
    net.interface(QStringLiteral("wwan0"), QStringLiteral("up"));
    net.routes({FakeNetwork::route(QStringLiteral("eth0"), false)});
    EXPECT_EQ(r.currentStatus(), NetworkStatus::None) << "a local route is not a way out";

    net.routes({FakeNetwork::route(QStringLiteral("wwan0"), true, 700)});
    EXPECT_EQ(r.currentStatus(), NetworkStatus::Cellular);
    net.routes({FakeNetwork::route(QStringLiteral("wwan0"), true, 700), FakeNetwork::route(QStringLiteral("wlp2s0"), true, 600)});
    EXPECT_EQ(r.currentStatus(), NetworkStatus::WiFi) << "the lower metric wins";
    net.routes({FakeNetwork::route(QStringLiteral("eth0"), true, 100)});
    EXPECT_EQ(r.currentStatus(), NetworkStatus::WiFi) << "wired counts as WiFi";

    net.interface(QStringLiteral("eth0"), QStringLiteral("down"));
    EXPECT_EQ(r.currentStatus(), NetworkStatus::None);
    net.routes({FakeNetwork::route(QStringLiteral("wwan0"), true, 0, false)});
    EXPECT_EQ(r.currentStatus(), NetworkStatus::None) << "a route that is not up";
    net.routes({FakeNetwork::route(QStringLiteral("../../../etc"), true)});
    EXPECT_EQ(r.currentStatus(), NetworkStatus::None);
    writeFileAtomically(net.root() + QStringLiteral("/proc/net/route"), QByteArray("\x00\xff garbage\n\t\t\n", 14));
    EXPECT_EQ(r.currentStatus(), NetworkStatus::None);
}

TEST(Reachability, PostsOnChange)
{
    FakeNetwork net;
    net.interface(QStringLiteral("wlan0"), QStringLiteral("up"), true);
    net.interface(QStringLiteral("wwan0"), QStringLiteral("up"));
    net.routes({FakeNetwork::route(QStringLiteral("wlan0"), true)});
    Reachability r;
    r.setRootForTesting(net.root());
    int posts = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(Reachability::changedNotification(), &r,
                                                                 [&](const Notification& n) {
                                                                     EXPECT_EQ(n.object, &r);
                                                                     ++posts;
                                                                 });
    EXPECT_EQ(Reachability::changedNotification(), QStringLiteral("PlatformReachabilityChangedNotification"));
    r.startMonitoring();
    EXPECT_TRUE(r.isMonitoring());
    EXPECT_EQ(r.lastStatus(), NetworkStatus::WiFi);
    EXPECT_EQ(posts, 0) << "the first reading is the baseline";
    r.refresh();
    EXPECT_EQ(posts, 0) << "nothing changed";

    net.routes({FakeNetwork::route(QStringLiteral("wwan0"), true)});
    r.refresh();
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(r.lastStatus(), NetworkStatus::Cellular);

    // The monitor notices by itself.
    net.routes({});
    KR_WAIT_UNTIL(posts == 2);
    EXPECT_EQ(r.lastStatus(), NetworkStatus::None);
    r.stopMonitoring();
    EXPECT_FALSE(r.isMonitoring());
}
