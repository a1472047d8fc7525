#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace platform {

struct Notification {
    QString name;
    const void* object = nullptr;
    QVariantMap userInfo;
};

class NotificationCenter;

// Keeps one observer registered; destroying or resetting it removes the observer. Move-only.
// May outlive its centre.
class ObserverToken {
public:
    ObserverToken() = default;
    ~ObserverToken() { reset(); }
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;

    void reset();
    bool isActive() const { return bool(m_observer); }
    explicit operator bool() const { return isActive(); }

private:
    friend class NotificationCenter;
    struct Observer;
    struct Registry;
    ObserverToken(std::weak_ptr<Registry> registry, std::shared_ptr<Observer> observer)
        : m_registry(std::move(registry)), m_observer(std::move(observer)) {}

    std::weak_ptr<Registry> m_registry;
    std::shared_ptr<Observer> m_observer;
};

// Delivers named notifications synchronously on the posting thread, to observers in the
// order they registered. Observers added during a delivery are not called by it; observers
// removed during a delivery (themselves or others) are not called after their removal.
// Thread-safe; removing an observer does not wait for a delivery to it that is already
// running on another thread.
class NotificationCenter {
public:
    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    void post(const QString& name, const void* object = nullptr, const QVariantMap& userInfo = {});
    // `object` nullptr observes the name from any sender.
    [[nodiscard]] ObserverToken addObserver(const QString& name, const void* object,
                                            std::function<void(const Notification&)> callback);

private:
    std::shared_ptr<ObserverToken::Registry> m_registry;
};

} // namespace platform
