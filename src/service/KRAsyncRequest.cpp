#include "service/KRAsyncRequest.h"

#include "platform/foundation/OperationQueue.h"
#include "service/KRRequestPipeline.h"

KRAsyncRequest::KRAsyncRequest(QObject* owner)
    : m_owner(owner)
{
}

KRAsyncRequest& KRAsyncRequest::onQueue(platform::OperationQueue* queue)
{
    m_queue = queue;
    return *this;
}

KRAsyncRequest& KRAsyncRequest::withHandle(KRRequestHandle handle)
{
    m_handle = std::move(handle);
    return *this;
}

bool KRAsyncRequest::start(std::function<void()> operation) const
{
    if (!m_queue)
        return KRRequestPipeline::runOneOff(std::move(operation));
    m_queue->addOperation(std::move(operation));
    return true;
}
