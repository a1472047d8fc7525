#include "service/KRRequestHandle.h"

KRRequestHandle KRRequestHandle::make()
{
    KRRequestHandle handle;
    handle.m_cancelled = std::make_shared<std::atomic_bool>(false);
    return handle;
}

void KRRequestHandle::cancel() const
{
    if (m_cancelled)
        m_cancelled->store(true);
}

bool KRRequestHandle::isCancelled() const
{
    return m_cancelled && m_cancelled->load();
}
