#pragma once

#include <QString>

// The kind of network the device is on now.
enum KRNetworkType : int {
    KRNetworkTypeUnknown = 0,
    KRNetworkTypeNone = 1,
    KRNetworkTypeWiFi = 2,
    KRNetworkTypeCellular = 3,
};

// Stateless; one query of the system per call, from any thread.
class KRNetworkReachability {
public:
    KRNetworkReachability() = delete;

    static KRNetworkType currentNetworkType();
    // "未知", "无网络", "Wi-Fi", "流量网络"; "未知" for any other value.
    static QString titleForNetworkType(int type);
};
