#include "platform/device/Reachability.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/NotificationCenter.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <limits>

namespace platform {
namespace {

constexpr int kPollIntervalMs = 2000;
constexpr qint64 kMaxProcFileBytes = 1 << 20;
constexpr int kLoopbackType = 772;  // ARPHRD_LOOPBACK

QString readSmallText(const QString& path)
{
    const auto data = readFile(path, kMaxProcFileBytes);
    return data ? QString::fromUtf8(*data).trimmed() : QString();
}

// The interface of the default route with the lowest metric that is up; empty when none.
QString defaultRouteInterface(const QString& root)
{
    const QString table = readSmallText(root + QStringLiteral("/proc/net/route"));
    QString best;
    qint64 bestMetric = std::numeric_limits<qint64>::max();
    const QStringList lines = table.split(u'\n', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {  // the first line names the columns
        const QStringList fields = lines.at(i).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (fields.size() < 8 || fields.at(1) != QLatin1String("00000000") || fields.at(7) != QLatin1String("00000000"))
            continue;
        bool flagsOK = false, metricOK = false;
        const uint flags = fields.at(3).toUInt(&flagsOK, 16);
        const qint64 metric = fields.at(6).toLongLong(&metricOK);
        if (!flagsOK || !(flags & 0x1) || !metricOK)  // RTF_UP
            continue;
        if (metric < bestMetric) {
            bestMetric = metric;
            best = fields.at(0);
        }
    }
    // Interface names never hold a slash; anything else would read outside sysfs.
    if (best.contains(u'/') || best == QLatin1String("..") || best == QLatin1String("."))
        return {};
    return best;
}

NetworkStatus statusOf(const QString& root, const QString& interface)
{
    if (interface.isEmpty())
        return NetworkStatus::None;
    const QString sys = root + QStringLiteral("/sys/class/net/") + interface;
    if (readSmallText(sys + QStringLiteral("/operstate")) == QLatin1String("down"))
        return NetworkStatus::None;
    bool typeOK = false;
    if (readSmallText(sys + QStringLiteral("/type")).toInt(&typeOK) == kLoopbackType && typeOK)
        return NetworkStatus::None;
    const bool wireless = QFileInfo::exists(sys + QStringLiteral("/wireless"))
        || QFileInfo::exists(sys + QStringLiteral("/phy80211")) || interface.startsWith(QLatin1String("wl"));
    if (wireless)
        return NetworkStatus::WiFi;
    // "wwan0", or a predictably named modem ("wwp0s20f0u6"), or one that says so itself.
    if (interface.startsWith(QLatin1String("ww"))
        || readSmallText(sys + QStringLiteral("/uevent")).split(u'\n').contains(QLatin1String("DEVTYPE=wwan")))
        return NetworkStatus::Cellular;
    // Anything else that carries the default route (wired, tunnels) counts as WiFi.
    return NetworkStatus::WiFi;
}

} // namespace

Reachability& Reachability::shared()
{
    static Reachability* instance = new Reachability;
    return *instance;
}

QString Reachability::changedNotification() { return QStringLiteral("PlatformReachabilityChangedNotification"); }

Reachability::Reachability() = default;

Reachability::~Reachability() = default;

QString Reachability::root() const
{
    std::lock_guard lock(m_mutex);
    return m_root.isEmpty() || m_root == QLatin1String("/") ? QString() : QDir::cleanPath(m_root);
}

void Reachability::setRootForTesting(const QString& root)
{
    std::lock_guard lock(m_mutex);
    m_root = root;
}

NetworkStatus Reachability::currentStatus() const
{
    const QString base = root();
    return statusOf(base, defaultRouteInterface(base));
}

void Reachability::startMonitoring()
{
    if (m_timer.isActive())
        return;
    refresh();
    m_timer.start(kPollIntervalMs, [this] { refresh(); });
}

void Reachability::stopMonitoring() { m_timer.stop(); }

bool Reachability::isMonitoring() const { return m_timer.isActive(); }

void Reachability::refresh()
{
    const NetworkStatus now = currentStatus();
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        // The first reading only sets the baseline: nothing has changed yet.
        changed = m_lastKnown && m_lastStatus != now;
        m_lastStatus = now;
        m_lastKnown = true;
    }
    if (changed)
        NotificationCenter::defaultCenter().post(changedNotification(), this);
}

NetworkStatus Reachability::lastStatus() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_lastKnown)
            return m_lastStatus;
    }
    return currentStatus();
}

} // namespace platform
