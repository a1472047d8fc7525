#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/MainClock.h"
#include "platform/foundation/NumberText.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/PropertyList.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

#include <atomic>
#include <limits>
#include <mutex>
#include <vector>

namespace platform {
namespace {

constexpr int kFlushDelayMs = 100;
const QString kStandardName = QStringLiteral("com.tarnwick.korvane5.plist");

QString standardPath(const QString& home) { return home + QStringLiteral("/Library/Preferences/") + kStandardName; }

// Reads the file; a corrupt one is moved aside so that the next write cannot destroy what
// might still be recovered from it.
QVariantMap loadValues(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    QString readError;
    const auto data = readFile(path, -1, &readError);
    if (!data) {
        qWarning("UserDefaults: cannot read %s: %s", qPrintable(path), qPrintable(readError));
        return {};
    }
    Error error;
    // One value the file cannot hold again (text with U+0000 written by another tool) costs
    // that value alone, not every preference.
    int dropped = 0;
    const QVariant root = PropertyList::parseDroppingUnreadable(*data, &dropped, &error);
    if (root.typeId() == QMetaType::QVariantMap) {
        if (dropped > 0)
            qWarning("UserDefaults: %d unreadable value(s) of %s left out", dropped, qPrintable(path));
        return root.toMap();
    }
    const QString aside = path + QStringLiteral(".corrupt");
    QFile::remove(aside);
    QFile::rename(path, aside);
    qWarning("UserDefaults: %s is not a dictionary property list, kept as %s", qPrintable(path), qPrintable(aside));
    return {};
}

// The key as the file keeps it (a surrogate without its partner becomes U+FFFD).
QString storedKey(const QString& key)
{
    const QVariant normal = PropertyList::normalized(key);
    return normal.isValid() ? normal.toString() : key;
}

} // namespace

struct UserDefaults::Impl : std::enable_shared_from_this<UserDefaults::Impl> {
    mutable std::mutex mutex;   // the values and bookkeeping below
    std::mutex writeMutex;      // one file write at a time, in order of the snapshots
    QString path;
    QString home;               // set when following Directories::home()
    bool followsHome = false;
    // The home generation `home` was read at, plus one (0: never read): while it holds, the
    // home is not asked again, so a read of the standard defaults costs one atomic load.
    std::atomic<quint64> followedGeneration{0};
    QVariantMap values;
    quint64 generation = 0;     // bumped by every change
    quint64 written = 0;        // generation the file holds
    bool lastWriteOK = true;
    bool flushScheduled = false;

    void followHome();
    void changed(std::unique_lock<std::mutex>& lock);
    bool flush();
    bool writeLocked(std::unique_lock<std::mutex>& lock);
};

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::weak_ptr<UserDefaults::Impl>> live;
};

// Never destroyed: the exit hooks may run during static destruction.
Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

void flushAllAtExit()
{
    std::vector<std::shared_ptr<UserDefaults::Impl>> all;
    {
        std::lock_guard lock(registry().mutex);
        for (const auto& weak : registry().live) {
            if (auto impl = weak.lock())
                all.push_back(std::move(impl));
        }
    }
    for (const auto& impl : all)
        impl->flush();
}

void enroll(const std::shared_ptr<UserDefaults::Impl>& impl)
{
    static std::once_flag hooks;
    std::call_once(hooks, [] {
        qAddPostRoutine(flushAllAtExit);
        std::atexit(flushAllAtExit);
    });
    std::lock_guard lock(registry().mutex);
    auto& live = registry().live;
    std::erase_if(live, [](const auto& weak) { return weak.expired(); });
    live.push_back(impl);
}

} // namespace

// Holding the data mutex: writes the current values. The write mutex must be held too.
bool UserDefaults::Impl::writeLocked(std::unique_lock<std::mutex>& lock)
{
    if (generation == written)
        return lastWriteOK;
    const QVariantMap snapshot = values;
    const quint64 snapshotGeneration = generation;
    const QString target = path;
    lock.unlock();
    QString errorText;
    // Values are checked as they come in, so this cannot fail; if it ever did, an empty file
    // would lose every preference at the next start: the previous file stays instead.
    const QByteArray data = PropertyList::toXML(snapshot);
    bool ok = !data.isEmpty();
    if (!ok)
        errorText = QStringLiteral("the values cannot be written as a property list");
    else
        ok = writeFileAtomically(target, data, &errorText, QFile::ReadOwner | QFile::WriteOwner);
    if (!ok)
        qWarning("UserDefaults: cannot write %s: %s", qPrintable(target), qPrintable(errorText));
    lock.lock();
    if (target == path) {
        lastWriteOK = ok;
        if (ok)
            written = snapshotGeneration;
    }
    return ok;
}

bool UserDefaults::Impl::flush()
{
    std::lock_guard writing(writeMutex);
    std::unique_lock lock(mutex);
    return writeLocked(lock);
}

void UserDefaults::Impl::followHome()
{
    if (!followsHome)
        return;
    const quint64 homeGeneration = Directories::homeGeneration() + 1;
    if (followedGeneration.load(std::memory_order_acquire) == homeGeneration)
        return;
    const QString current = Directories::homePath();
    {
        std::lock_guard lock(mutex);
        if (current == home) {
            followedGeneration.store(homeGeneration, std::memory_order_release);
            return;
        }
    }
    std::lock_guard writing(writeMutex);
    std::unique_lock lock(mutex);
    if (current == home) {
        followedGeneration.store(homeGeneration, std::memory_order_release);
        return;
    }
    // Pending changes belong to the old home; write them there unless it is gone.
    if (!home.isEmpty() && QFileInfo::exists(home))
        writeLocked(lock);
    // `home` still names the old home while the new file loads, so every other caller
    // waits on the write mutex instead of changing values about to be replaced.
    lock.unlock();
    QVariantMap loaded = loadValues(standardPath(current));
    lock.lock();
    home = current;
    path = standardPath(current);
    values = std::move(loaded);
    written = generation;
    lastWriteOK = true;
    followedGeneration.store(homeGeneration, std::memory_order_release);
}

// Holding the data mutex after a change: arranges the debounced write.
void UserDefaults::Impl::changed(std::unique_lock<std::mutex>& lock)
{
    ++generation;
    if (flushScheduled)
        return;
    if (!QCoreApplication::instance()) {
        // No event loop to debounce on: write now.
        lock.unlock();
        flush();
        lock.lock();
        return;
    }
    flushScheduled = true;
    std::weak_ptr<Impl> weak = shared_from_this();
    auto arm = [weak] {
        // On the main clock, as every delayed call of the main thread: a test's manual clock decides when it is due.
        MainClock::callAfter(kFlushDelayMs, [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            {
                std::lock_guard lock(self->mutex);
                self->flushScheduled = false;
            }
            // The home is looked up here, where the environment may change; the write (with
            // its fsync) happens off the main thread.
            self->followHome();
            OperationQueue::runOnce([self] { self->flush(); });
        });
    };
    if (isMainThread())
        arm();
    else
        dispatchMain(std::move(arm));
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* defaults = [] {
        auto impl = std::make_shared<Impl>();
        impl->followsHome = true;
        enroll(impl);
        return new UserDefaults(std::move(impl));
    }();
    defaults->m_impl->followHome();
    return *defaults;
}

UserDefaults::UserDefaults(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}

UserDefaults::UserDefaults(const QString& path) : m_impl(std::make_shared<Impl>())
{
    m_impl->path = QFileInfo(path).absoluteFilePath();
    m_impl->values = loadValues(m_impl->path);
    enroll(m_impl);
}

UserDefaults::~UserDefaults() { m_impl->flush(); }

QString UserDefaults::path() const
{
    m_impl->followHome();
    std::lock_guard lock(m_impl->mutex);
    return m_impl->path;
}

QVariant UserDefaults::object(const QString& key) const
{
    m_impl->followHome();
    std::lock_guard lock(m_impl->mutex);
    return m_impl->values.value(storedKey(key));
}

void UserDefaults::setObject(const QString& key, const QVariant& value)
{
    if (!value.isValid() || value.isNull()) {
        remove(key);
        return;
    }
    // Checked in its place in the file, below the root dictionary, so that the key counts and
    // the nesting limit is met there.
    const QVariantMap placed = PropertyList::normalized(QVariantMap{{key, value}}).toMap();
    if (placed.size() != 1) {
        qWarning("UserDefaults: refused a value of type %s for key %s that a property list cannot hold",
                 value.typeName(), qPrintable(key));
        return;
    }
    const QString stored = placed.firstKey();
    QVariant normal = placed.first();
    m_impl->followHome();
    std::unique_lock lock(m_impl->mutex);
    auto it = m_impl->values.find(stored);
    if (it != m_impl->values.end() && it.value() == normal && it.value().typeId() == normal.typeId())
        return;
    m_impl->values.insert(stored, std::move(normal));
    m_impl->changed(lock);
}

void UserDefaults::remove(const QString& key)
{
    m_impl->followHome();
    std::unique_lock lock(m_impl->mutex);
    if (m_impl->values.remove(storedKey(key)) > 0)
        m_impl->changed(lock);
}

bool UserDefaults::contains(const QString& key) const
{
    m_impl->followHome();
    std::lock_guard lock(m_impl->mutex);
    return m_impl->values.contains(storedKey(key));
}

bool UserDefaults::synchronize()
{
    m_impl->followHome();
    return m_impl->flush();
}

QString UserDefaults::string(const QString& key, const QString& def) const
{
    const QVariant v = object(key);
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return v.toString();
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return def;
    }
}

qint64 UserDefaults::integer(const QString& key, qint64 def) const
{
    const QVariant v = object(key);
    switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Bool:
        return v.toLongLong();
    case QMetaType::ULongLong:
        return qint64(std::min<quint64>(v.toULongLong(), quint64(std::numeric_limits<qint64>::max())));
    case QMetaType::Double:
        return NumberText::truncatedInteger(v.toDouble());
    case QMetaType::QString:
        return NumberText::integerValue(v.toString());
    default:
        return def;
    }
}

double UserDefaults::doubleValue(const QString& key, double def) const
{
    const QVariant v = object(key);
    switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
    case QMetaType::Double:
        return v.toDouble();
    case QMetaType::QString:
        return NumberText::doubleValue(v.toString());
    default:
        return def;
    }
}

bool UserDefaults::boolean(const QString& key, bool def) const
{
    const QVariant v = object(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::LongLong:
        return v.toLongLong() != 0;
    case QMetaType::ULongLong:
        return v.toULongLong() != 0;
    case QMetaType::Double:
        return v.toDouble() != 0;
    case QMetaType::QString:
        return NumberText::boolValue(v.toString());
    default:
        return def;
    }
}

QVariantList UserDefaults::array(const QString& key) const
{
    const QVariant v = object(key);
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

QVariantMap UserDefaults::dictionary(const QString& key) const
{
    const QVariant v = object(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

} // namespace platform
