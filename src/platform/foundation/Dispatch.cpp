#include "platform/foundation/Dispatch.h"

#include "platform/foundation/OperationQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

void dispatchMain(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        qWarning("dispatchMain: no application object, call dropped");
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void dispatchMainSync(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::BlockingQueuedConnection);
}

bool isMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return ::syscall(SYS_gettid) == ::getpid();
}

void dispatchGlobal(std::function<void()> fn) { OperationQueue::runOnce(std::move(fn)); }

void dispatchAfter(int milliseconds, QObject* context, std::function<void()> fn)
{
    const bool owned = context != nullptr;
    QPointer<QObject> guard(context);
    auto arm = [milliseconds, owned, guard, fn = std::move(fn)]() mutable {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || (owned && !guard))
            return;
        QTimer::singleShot(std::max(0, milliseconds), app, [owned, guard, fn = std::move(fn)] {
            if (owned && !guard)
                return;
            fn();
        });
    };
    if (isMainThread())
        arm();
    else
        dispatchMain(std::move(arm));
}

} // namespace platform
