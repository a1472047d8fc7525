#include "platform/foundation/OperationQueue.h"

#include <QThreadPool>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace platform {
namespace {

// Every queue draws its threads from one generous pool: queues limit their own width, and
// operations may block on the network for a long time, so the pool itself must not be the
// bottleneck. Never destroyed: worker threads may still be busy when the process exits.
QThreadPool& workerPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setObjectName(QStringLiteral("platform.workers"));
        p->setMaxThreadCount(256);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

} // namespace

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
    mutable std::mutex mutex;
    std::condition_variable idle;
    std::deque<std::function<void()>> pending;
    int running = 0;
    int width = 1;
    QString name;

    // Starts queued operations while there is room. Called with the mutex held.
    void pump()
    {
        while (running < width && !pending.empty()) {
            auto operation = std::move(pending.front());
            pending.pop_front();
            ++running;
            workerPool().start([self = shared_from_this(), operation = std::move(operation)]() mutable {
                self->run(operation);
            });
        }
    }

    void run(std::function<void()>& operation);
    // Waits until `condition` holds, not counting an operation of this queue on this thread.
    template<typename Condition> void waitFor(std::unique_lock<std::mutex>& lock, Condition condition);
};

namespace {
thread_local const OperationQueue::State* t_currentQueue = nullptr;
}

void OperationQueue::State::run(std::function<void()>& operation)
{
    const State* outer = t_currentQueue;
    t_currentQueue = this;
    struct Finish {
        State* state;
        const State* outer;
        ~Finish()
        {
            t_currentQueue = outer;
            std::lock_guard lock(state->mutex);
            --state->running;
            state->pump();
            state->idle.notify_all();
        }
    } finish{this, outer};
    operation();
    operation = nullptr;  // release captures before the queue counts the operation as done
}

template<typename Condition>
void OperationQueue::State::waitFor(std::unique_lock<std::mutex>& lock, Condition condition)
{
    const int self = t_currentQueue == this ? 1 : 0;
    idle.wait(lock, [&] { return condition(self); });
}

OperationQueue::OperationQueue(int maxConcurrentOperationCount, QString name)
    : m_state(std::make_shared<State>())
{
    m_state->width = std::max(1, maxConcurrentOperationCount);
    m_state->name = std::move(name);
}

OperationQueue::~OperationQueue()
{
    std::deque<std::function<void()>> dropped;
    std::unique_lock lock(m_state->mutex);
    dropped.swap(m_state->pending);
    m_state->waitFor(lock, [this](int self) { return m_state->running <= self; });
    lock.unlock();
}

void OperationQueue::addOperation(std::function<void()> operation)
{
    if (!operation)
        return;
    std::lock_guard lock(m_state->mutex);
    m_state->pending.push_back(std::move(operation));
    m_state->pump();
}

int OperationQueue::maxConcurrentOperationCount() const { return m_state->width; }

QString OperationQueue::name() const { return m_state->name; }

int OperationQueue::operationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->pending.size()) + m_state->running;
}

void OperationQueue::cancelAllOperations()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_state->mutex);
        dropped.swap(m_state->pending);
        m_state->idle.notify_all();
    }
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(m_state->mutex);
    m_state->waitFor(lock, [this](int self) { return m_state->pending.empty() && m_state->running <= self; });
}

void OperationQueue::runOnce(std::function<void()> operation)
{
    if (operation)
        workerPool().start(std::move(operation));
}

} // namespace platform
