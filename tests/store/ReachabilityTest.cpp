#include "platform/device/Reachability.h"
#include "platform/foundation/AtomicFile.h"
#include "store/KRNetworkReachability.h"
#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

const bool registered = [] {
    testsupport::onEachTestStart([] { platform::Reachability::shared().setRootForTesting(QString()); });
    return true;
}();

// A system root whose default route leaves through `interface` (none when empty).
QString systemRootWithDefaultRoute(const QString& interface)
{
    const QString root = testsupport::testHome() + QStringLiteral("/system");
    QByteArray route = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    if (!interface.isEmpty())
        route += interface.toUtf8() + "\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    route += "lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n";
    EXPECT_TRUE(platform::writeFileAtomically(root + QStringLiteral("/proc/net/route"), route));
    if (!interface.isEmpty())
        EXPECT_TRUE(platform::writeFileAtomically(root + QStringLiteral("/sys/class/net/") + interface + QStringLiteral("/operstate"), "up\n"));
    platform::Reachability::shared().setRootForTesting(root);
    return root;
}

} // namespace

TEST(NetworkReachability, TypesFollowTheDefaultRoute)
{
    systemRootWithDefaultRoute(QString());
    EXPECT_EQ(KRNetworkReachability::currentNetworkType(), KRNetworkTypeNone);
    systemRootWithDefaultRoute(QStringLiteral("wlan0"));
    EXPECT_EQ(KRNetworkReachability::currentNetworkType(), KRNetworkTypeWiFi);
    systemRootWithDefaultRoute(QStringLiteral("wwan0"));
    EXPECT_EQ(KRNetworkReachability::currentNetworkType(), KRNetworkTypeCellular);
    const QString root = systemRootWithDefaultRoute(QStringLiteral("eth0"));
    EXPECT_EQ(KRNetworkReachability::currentNetworkType(), KRNetworkTypeWiFi);
    ASSERT_TRUE(platform::writeFileAtomically(root + QStringLiteral("/sys/class/net/eth0/operstate"), "down\n"));
    EXPECT_EQ(KRNetworkReachability::currentNetworkType(), KRNetworkTypeNone);
}

TEST(NetworkReachability, Titles)
{
    EXPECT_EQ(KRNetworkReachability::titleForNetworkType(KRNetworkTypeUnknown), QStringLiteral("未知"));
    EXPECT_EQ(KRNetworkReachability::titleForNetworkType(1), QStringLiteral("无网络"));
    EXPECT_EQ(KRNetworkReachability::titleForNetworkType(2), QStringLiteral("Wi-Fi"));
    EXPECT_EQ(KRNetworkReachability::titleForNetworkType(3), QStringLiteral("流量网络"));
    EXPECT_EQ(KRNetworkReachability::titleForNetworkType(7), QStringLiteral("未知"));
    EXPECT_EQ(KRNetworkReachability::titleForNetworkType(-1), QStringLiteral("未知"));
}
