#pragma once

#include "platform/foundation/RepeatingTimer.h"

#include <QString>

#include <mutex>

namespace platform {

enum class NetworkStatus { None, WiFi, Cellular };

// The network the default route goes through, read from <root>/proc/net/route and
// <root>/sys/class/net/<interface>/. A wireless interface ("wireless" or "phy80211" in sysfs,
// or a name starting "wl") is WiFi, "wwan…" is Cellular, any other interface that is not
// down is WiFi; no default route is None.
class Reachability {
public:
    static Reachability& shared();
    static QString changedNotification();  // "PlatformReachabilityChangedNotification"

    Reachability();
    ~Reachability();

    // Reads the system now (thread-safe).
    NetworkStatus currentStatus() const;
    // Empty means "/".
    void setRootForTesting(const QString& root);

    // Main thread: polls every 2 s and posts changedNotification() (object: this
    // Reachability) on the default centre when the status changes.
    void startMonitoring();
    void stopMonitoring();
    bool isMonitoring() const;
    // Re-reads now and posts when the status differs from the last one seen (the first
    // reading only sets the baseline).
    void refresh();
    // The status last seen by refresh() or the monitor (read now when none was seen yet).
    NetworkStatus lastStatus() const;

private:
    QString root() const;

    mutable std::mutex m_mutex;
    QString m_root;
    NetworkStatus m_lastStatus = NetworkStatus::None;
    bool m_lastKnown = false;
    RepeatingTimer m_timer;
};

} // namespace platform
