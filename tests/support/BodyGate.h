#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace testsupport {

// Holds a served body back until the test lets more of it go. A test that must know where
// the client's reads end opens the gate one piece at a time and waits for the client to
// take each piece in full; without it, how the bytes are split and merged on the way is up
// to the scheduler and differs from run to run.
class BodyGate {
public:
    // Lets every byte below `bytes` go; a gate never closes again.
    void openTo(qint64 bytes);
    qint64 openedTo() const;

    // The server's side: waits until the byte at `offset` may go. False once
    // `clientStillThere` answers false, so a test that fails early leaves no server hanging.
    bool waitFor(qint64 offset, const std::function<bool()>& clientStillThere);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_opened;
    qint64 m_openTo = 0;
};

} // namespace testsupport
