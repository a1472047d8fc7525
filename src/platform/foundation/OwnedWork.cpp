#include "platform/foundation/OwnedWork.h"

#include "platform/foundation/OperationQueue.h"

namespace platform {

OwnedWork::OwnedWork(ReplyOwner owner)
    : m_owner(std::move(owner))
{
}

OwnedWork& OwnedWork::onQueue(OperationQueue* queue)
{
    m_queue = queue;
    m_start = nullptr;
    return *this;
}

OwnedWork& OwnedWork::startedBy(std::function<bool(std::function<void()>)> start)
{
    m_start = std::move(start);
    m_queue = nullptr;
    return *this;
}

OwnedWork& OwnedWork::cancelledBy(std::function<bool()> cancelled)
{
    m_cancelled = std::move(cancelled);
    return *this;
}

bool OwnedWork::abandoned() const
{
    return m_owner.isGone() || (m_cancelled && m_cancelled());
}

bool OwnedWork::start(std::function<void()> operation) const
{
    if (m_start)
        return m_start(std::move(operation));
    if (m_queue) {
        m_queue->addOperation(std::move(operation));
        return true;
    }
    dispatchGlobal(std::move(operation));
    return true;
}

} // namespace platform
