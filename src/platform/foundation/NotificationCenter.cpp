#include "platform/foundation/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace platform {

struct ObserverToken::Observer {
    QString name;
    const void* object = nullptr;
    std::function<void(const Notification&)> callback;
    std::atomic_bool removed{false};
};

struct ObserverToken::Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;  // registration order

    void remove(const std::shared_ptr<Observer>& observer)
    {
        std::shared_ptr<Observer> keep;
        std::lock_guard lock(mutex);
        observer->removed = true;
        for (auto it = observers.begin(); it != observers.end(); ++it) {
            if (*it == observer) {
                keep = std::move(*it);  // released after the lock: the callback may own things
                observers.erase(it);
                break;
            }
        }
    }
};

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : m_registry(std::move(other.m_registry)), m_observer(std::move(other.m_observer))
{
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        reset();
        m_registry = std::move(other.m_registry);
        m_observer = std::move(other.m_observer);
    }
    return *this;
}

void ObserverToken::reset()
{
    std::shared_ptr<Observer> observer = std::move(m_observer);
    if (!observer)
        return;
    if (auto registry = m_registry.lock())
        registry->remove(observer);
    else
        observer->removed = true;
    m_registry.reset();
}

NotificationCenter::NotificationCenter() : m_registry(std::make_shared<ObserverToken::Registry>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: tokens held by other process-lifetime objects may be reset at exit.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

void NotificationCenter::post(const QString& name, const void* object, const QVariantMap& userInfo)
{
    std::vector<std::shared_ptr<ObserverToken::Observer>> targets;
    {
        std::lock_guard lock(m_registry->mutex);
        for (const auto& observer : m_registry->observers) {
            if (observer->name == name && (!observer->object || observer->object == object))
                targets.push_back(observer);
        }
    }
    const Notification notification{name, object, userInfo};
    for (const auto& observer : targets) {
        if (!observer->removed)
            observer->callback(notification);
    }
}

ObserverToken NotificationCenter::addObserver(const QString& name, const void* object,
                                              std::function<void(const Notification&)> callback)
{
    auto observer = std::make_shared<ObserverToken::Observer>();
    observer->name = name;
    observer->object = object;
    observer->callback = std::move(callback);
    if (!observer->callback)
        return {};
    {
        std::lock_guard lock(m_registry->mutex);
        m_registry->observers.push_back(observer);
    }
    return ObserverToken(m_registry, std::move(observer));
}

} // namespace platform
