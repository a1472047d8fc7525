#pragma once

#include "platform/foundation/Dispatch.h"

#include <QObject>
#include <QPointer>

#include <type_traits>
#include <utility>

namespace platform {

// The object an asynchronous reply is for, as the context object of Qt's own connect and
// QTimer::singleShot: once it is destroyed nothing is delivered to it. A null owner stands for
// a caller that lives as long as the process; its replies are always delivered.
class ReplyOwner {
public:
    ReplyOwner() = default;
    // Made on the main thread, where owners live and die.
    ReplyOwner(QObject* owner) // NOLINT: an owner converts from the plain pointer callers hold
        : m_owned(owner != nullptr)
        , m_object(owner)
    {
    }

    // Whether an owner was given and has been destroyed since. The answer is final once true;
    // workers may ask it to skip work nobody waits for any more, but only the main thread's
    // answer decides a delivery.
    bool isGone() const { return m_owned && m_object.isNull(); }

private:
    bool m_owned = false;
    QPointer<QObject> m_object;
};

// `completion` made to run only while `owner` exists; an empty completion stays a no-op. Like
// every completion it is called, and released, on the main thread, so a dropped reply still
// releases what the completion holds there.
template <typename Completion>
auto ownedBy(ReplyOwner owner, Completion completion)
{
    return [owner = std::move(owner), completion = std::move(completion)](auto&&... arguments) {
        if (owner.isGone())
            return;
        if constexpr (std::is_constructible_v<bool, const Completion&>) {
            if (!completion)
                return;
        }
        completion(std::forward<decltype(arguments)>(arguments)...);
    };
}

// Hands `value` (a completion nobody will call, or what holds one) to the main thread to be
// released there, from a worker that must not run its captures' destructors.
template <typename T>
void releaseOnMain(T value)
{
    dispatchMain([value = std::move(value)] {});
}

} // namespace platform
