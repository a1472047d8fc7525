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
// Every thread is joined: one that lets go after idling by the next worker to finish a task
// (or by endThreads), the rest by endThreads at exit. A detached thread would outlive main,
// still holding its thread-locals (a kept parser, the TLS library's per-thread state) while
// the process ends.
class WorkerPool {
public:
    static WorkerPool& shared()
    {
        // Never destroyed: endThreads ends its threads before main returns, and a thread may
        // still ask it for work while the statics go.
        static WorkerPool* pool = new WorkerPool;
        return *pool;
    }

    void start(std::function<void()> task)
    {
        std::unique_lock lock(m_mutex);
        ++m_busy;
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
            // Made under the lock: the thread's first step takes it, so its handle is stored
            // before the thread can hand it on.
            auto worker = std::make_shared<Worker>();
            try {
                worker->thread = std::thread([this, worker] { run(worker); });
                ++m_threads;
            } catch (const std::exception&) { // out of threads: the next one to finish takes it
            }
        }
    }

    void waitUntilIdle()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_busy == 0; });
    }

    void endThreads()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_busy == 0; });
        m_ending = true;
        for (const std::shared_ptr<Worker>& worker : m_idle)
            worker->wake.notify_one();
        m_changed.wait(lock, [&] { return m_threads == 0; });
        m_ending = false;
        std::vector<std::thread> ended;
        ended.swap(m_ended);
        lock.unlock();
        join(ended);
    }

private:
    static constexpr int kMaximumThreads = 256;
    static constexpr auto kIdleExpiry = std::chrono::seconds(30);

    struct Worker {
        std::condition_variable wake;
        std::function<void()> task; // set under the mutex before `assigned`
        std::atomic_bool assigned{false};
        std::thread thread; // handed to m_ended as the thread ends
    };

    static void join(std::vector<std::thread>& threads)
    {
        for (std::thread& thread : threads)
            thread.join();
    }

    void run(const std::shared_ptr<Worker>& self)
    {
        std::function<void()> task;
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (!m_backlog.empty()) {
                task = std::move(m_backlog.front());
                m_backlog.pop_front();
            } else {
                self->assigned.store(false, std::memory_order_relaxed);
                const auto wanted = [&] { return self->assigned.load(std::memory_order_relaxed) || m_ending; };
                if (!m_ending) {
                    m_idle.push_back(self);
                    self->wake.wait_for(lock, kIdleExpiry, wanted);
                }
                if (!self->assigned.load(std::memory_order_relaxed)) {
                    const auto found = std::find(m_idle.begin(), m_idle.end(), self);
                    if (found != m_idle.end())
                        m_idle.erase(found);
                    m_ended.push_back(std::move(self->thread));
                    --m_threads;
                    m_changed.notify_all();
                    return;
                }
                task = std::move(self->task);
            }
            lock.unlock();
            task();
            task = nullptr; // captures go before the thread counts as idle
            lock.lock();
            // Threads that have let go are joined by the next worker to finish a task, which
            // holds no lock of anyone else's meanwhile; it counts as busy until they are.
            if (!m_ended.empty()) {
                std::vector<std::thread> ended;
                ended.swap(m_ended);
                lock.unlock();
                join(ended);
                lock.lock();
            }
            if (--m_busy == 0)
                m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed; // m_busy reached 0, or a thread ended
    std::vector<std::shared_ptr<Worker>> m_idle; // the most recently idle last
    std::deque<std::function<void()>> m_backlog; // work no idle thread was there for
    std::vector<std::thread> m_ended; // threads that have let go, not yet joined
    int m_threads = 0;
    int m_busy = 0; // tasks started and not yet finished, the backlog's included
    bool m_ending = false;
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

void OperationQueue::waitUntilAllWorkIsFinished() { WorkerPool::shared().waitUntilIdle(); }

void OperationQueue::endWorkerThreads() { WorkerPool::shared().endThreads(); }

} // namespace platform
