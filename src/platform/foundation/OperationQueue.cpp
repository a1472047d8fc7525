#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {


// Worker threads shared by every queue. Queues limit their own width, and operations may
// block on the network for a long time, so the pool itself must not be the bottleneck: it
// grows up to a generous limit and lets threads go after a while without work.
// The most recently idle thread is the first one handed work: its caches and its
// connections are the warmest.
class WorkerPool {
public:
    static WorkerPool& shared()
    {
        // Never destroyed: worker threads may still be busy when the process exits.
        static WorkerPool* pool = new WorkerPool;
        return *pool;
    }

    void start(std::function<void()> task)
    {
        std::unique_lock lock(m_mutex);
        if (!m_idle.empty()) {
            std::shared_ptr<Worker> worker = std::move(m_idle.back());
            m_idle.pop_back();
            worker->task = std::move(task);
            worker->assigned.store(true, std::memory_order_release);
            // Woken after the lock is let go, so the worker does not wake only to wait for it
            // again; the reference held here keeps its wake-up signal alive until then.
            lock.unlock();
            worker->wake.notify_one();
            return;
        }
        // A new thread, or the next thread to finish its work, takes it from the list.
        m_backlog.push_back(std::move(task));
        if (m_threads < kMaximumThreads) {
            ++m_threads;
            lock.unlock();
            try {
                std::thread([this] { run(); }).detach();
            } catch (const std::exception&) { // out of threads: the next one to finish takes it
                lock.lock();
                --m_threads;
            }
        }
    }

private:
    static constexpr int kMaximumThreads = 256;
    static constexpr auto kIdleExpiry = std::chrono::seconds(30);

    struct Worker {
        std::condition_variable wake;
        std::function<void()> task; // set under the mutex before `assigned`
        std::atomic_bool assigned{false};
    };

    void run()
    {
        const auto self = std::make_shared<Worker>();
        std::function<void()> task;
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (!m_backlog.empty()) {
                task = std::move(m_backlog.front());
                m_backlog.pop_front();
            } else {
                self->assigned.store(false, std::memory_order_relaxed);
                m_idle.push_back(self);
                const auto assigned = [&] { return self->assigned.load(std::memory_order_relaxed); };
                if (!self->wake.wait_for(lock, kIdleExpiry, assigned)) {
                    m_idle.erase(std::find(m_idle.begin(), m_idle.end(), self));
                    --m_threads;
                    return;
                }
                task = std::move(self->task);
            }
            lock.unlock();
            task();
            task = nullptr; // captures go before the thread counts as idle
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Worker>> m_idle; // the most recently idle last
    std::deque<std::function<void()>> m_backlog; // work no idle thread was there for
    int m_threads = 0;
};

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
            WorkerPool::shared().start([self = shared_from_this(), operation = std::move(operation)]() mutable {
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
    for (;;) {
        operation();
        operation = nullptr; // release captures before the queue counts the operation as done
        std::lock_guard lock(mutex);
        // The queue's next operation takes over this slot on this thread: no hand-over.
        if (!pending.empty()) {
            operation = std::move(pending.front());
            pending.pop_front();
            continue;
        }
        --running;
        idle.notify_all();
        break;
    }
    t_currentQueue = outer;
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
        WorkerPool::shared().start(std::move(operation));
}

} // namespace platform
