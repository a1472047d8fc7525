#include "platform/foundation/Dispatch.h"

#include "platform/foundation/MainClock.h"
#include "platform/foundation/OperationQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <deque>
#include <future>
#include <mutex>

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

// Calls for the main thread wait in one list, and one queued call drains it: a worker that
// hands back many results costs the main thread one event, not one each.
struct MainCalls {
    std::mutex mutex;
    std::deque<std::function<void()>> pending;
    quint64 added = 0;  // calls ever added
    quint64 taken = 0;  // calls ever taken out; the list holds calls taken … added − 1
    bool drainQueued = false;
    const QCoreApplication* drainQueuedTo = nullptr; // a new application object needs its own
};

MainCalls& mainCalls()
{
    static MainCalls* calls = new MainCalls; // used until the very end of the process
    return *calls;
}

void runMainCalls();

// The drain is asked for by name, of a receiver of the main thread: Qt makes, queues, runs
// and deletes the call inside its own library, so nothing made in our code crosses threads
// except through our lock.
class Drainer : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void drain() { runMainCalls(); }
};

void queueDrain(QCoreApplication* app)
{
    // In static storage, never destroyed: a heap block made on a worker and read on the main
    // thread would be a hand-over the checker cannot see, as Qt's queue is.
    alignas(Drainer) static unsigned char storage[sizeof(Drainer)];
    static Drainer* drainer = [app] {
        auto* made = new (storage) Drainer;
        made->moveToThread(app->thread());
        return made;
    }();
    QMetaObject::invokeMethod(drainer, "drain", Qt::QueuedConnection);
}

// Runs the calls added before this drain began, in order. Calls added meanwhile wait for the
// next event so that a call re-adding itself still lets the event loop breathe. While calls
// remain, an event stays queued: if one of them runs a nested event loop, the rest still run
// in order inside it.
void runMainCalls()
{
    MainCalls& calls = mainCalls();
    std::unique_lock lock(calls.mutex);
    calls.drainQueued = false;
    const quint64 end = calls.added;
    while (calls.taken < end) {
        std::function<void()> fn = std::move(calls.pending.front());
        calls.pending.pop_front();
        ++calls.taken;
        QCoreApplication* app = nullptr;
        if (!calls.pending.empty() && !calls.drainQueued) {
            app = QCoreApplication::instance();
            calls.drainQueued = app != nullptr;
            calls.drainQueuedTo = app;
        }
        lock.unlock();
        if (app)
            queueDrain(app);
        fn();
        fn = nullptr; // captures go before the lock is taken again: they may dispatch
        lock.lock();
    }
}

} // namespace

void dispatchMain(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        qWarning("dispatchMain: no application object, call dropped");
        return;
    }
    MainCalls& calls = mainCalls();
    bool queue = false;
    {
        std::lock_guard lock(calls.mutex);
        calls.pending.push_back(std::move(fn));
        ++calls.added;
        queue = !calls.drainQueued || calls.drainQueuedTo != app;
        calls.drainQueued = true;
        calls.drainQueuedTo = app;
    }
    if (queue)
        queueDrain(app);
}

void dispatchMainSync(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        fn();
        return;
    }
    // Through the same list as dispatchMain, so that a worker's earlier calls run first and
    // the hand-over is guarded by a lock of ours. The worker is let go when the call is over,
    // or when it is dropped unrun: its promise, broken, goes with it.
    auto over = std::make_shared<std::promise<void>>();
    std::future<void> done = over->get_future();
    dispatchMain([fn = std::move(fn), over = std::move(over)]() mutable {
        fn();
        fn = nullptr;
        over->set_value();
    });
    done.wait();
}

bool isMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return ::syscall(SYS_gettid) == ::getpid();
}

void assertMainThread(const char* where)
{
#ifndef QT_NO_DEBUG
    if (!isMainThread())
        qFatal("%s: main-thread-only, called from another thread", where);
#else
    Q_UNUSED(where);
#endif
}

void dispatchGlobal(std::function<void()> fn) { OperationQueue::runOnce(std::move(fn)); }

void dispatchAfter(int milliseconds, QObject* context, std::function<void()> fn)
{
    const bool owned = context != nullptr;
    QPointer<QObject> guard(context);
    auto arm = [milliseconds, owned, guard, fn = std::move(fn)]() mutable {
        if (!QCoreApplication::instance() || (owned && !guard))
            return;
        MainClock::callAfter(milliseconds, [owned, guard, fn = std::move(fn)] {
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

#include "Dispatch.moc"
