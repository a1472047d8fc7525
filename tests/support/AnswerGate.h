#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Holds a fake route's answer on the server's thread until the test opens it, so a test can
// act while that request is in flight. A test that fails before opening it must not hang the
// server's shutdown, so an unopened gate gives way after half a minute.
class AnswerGate {
public:
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_opened.wait_for(lock, std::chrono::seconds(30), [this] { return m_open; });
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_opened.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};
