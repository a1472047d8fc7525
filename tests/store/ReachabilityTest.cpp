#include "platform/device/Reachability.h"
#include "platform/foundation/AtomicFile.h"
#include "store/KRNetworkReachability.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const bool registered = testsupport::onEachTestStart([] { platform::Reachability::shared().setRootForTesting(QString()); });

} // namespace

TEST(NetworkReachability, TypesFollowTheDefaultRoute)
{
    struct Row {
        const char* interface;  // of the default route; none when empty
        const char* state;
        KRNetworkType type;
    };
    const Row rows[] = {{"", "up", KRNetworkTypeNone}, {"wlan0", "up", KRNetworkTypeWiFi}, {"wwan0", "up", KRNetworkTypeCellular},
                        {"eth0", "up", KRNetworkTypeWiFi}, {"eth0", "down", KRNetworkTypeNone}};
    int n = 0;
    for (const Row& row : rows) {
        const QString root = testsupport::testHome() + u"/system%1"_s.arg(n++);
        QByteArray route = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
        if (*row.interface)
            route += QByteArray(row.interface) + "\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
        ASSERT_TRUE(platform::writeFileAtomically(root + u"/proc/net/route"_s, route));
        ASSERT_TRUE(platform::writeFileAtomically(root + u"/sys/class/net/%1/operstate"_s.arg(QLatin1String(row.interface)), row.state));
        platform::Reachability::shared().setRootForTesting(root);
        EXPECT_EQ(KRNetworkReachability::currentNetworkType(), row.type) << row.interface << " " << row.state;
    }
    const QStringList titles{u"未知"_s, u"无网络"_s, u"Wi-Fi"_s, u"流量网络"_s, u"未知"_s};
    for (int type = 0; type <= 4; ++type)
        EXPECT_EQ(KRNetworkReachability::titleForNetworkType(type == 4 ? 7 : type), titles[type]);
}
