#include "store/KRNetworkReachability.h"

#include "platform/device/Reachability.h"

KRNetworkType KRNetworkReachability::currentNetworkType()
{
    switch (platform::Reachability::shared().currentStatus()) {
    case platform::NetworkStatus::None: return KRNetworkTypeNone;
    case platform::NetworkStatus::WiFi: return KRNetworkTypeWiFi;
    case platform::NetworkStatus::Cellular: return KRNetworkTypeCellular;
    }
    return KRNetworkTypeUnknown;
}

QString KRNetworkReachability::titleForNetworkType(int type)
{
    switch (type) {
    case KRNetworkTypeNone: return QStringLiteral("无网络");
    case KRNetworkTypeWiFi: return QStringLiteral("Wi-Fi");
    case KRNetworkTypeCellular: return QStringLiteral("流量网络");
    default: return QStringLiteral("未知");
    }
}
