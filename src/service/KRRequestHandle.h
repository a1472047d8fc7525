#pragma once

#include <atomic>
#include <memory>

// The handle of a long operation (a danmaku load): copies share one operation. cancel() on the
// main thread ends it: its exchange stops at the next poll, and its completion is never called
// afterwards (it is still released on the main thread). A default handle belongs to nothing.
class KRRequestHandle {
public:
    KRRequestHandle() = default;

    // A handle for a new operation.
    static KRRequestHandle make();

    void cancel() const;
    bool isCancelled() const;
    // Whether the handle stands for an operation at all.
    bool isValid() const { return bool(m_cancelled); }

    // The flag the operation's exchanges poll; null for a default handle.
    std::shared_ptr<std::atomic_bool> cancellationFlag() const { return m_cancelled; }

private:
    std::shared_ptr<std::atomic_bool> m_cancelled;
};
