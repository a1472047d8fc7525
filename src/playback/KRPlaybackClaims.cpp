#include "playback/KRPlaybackClaims.h"

KRPlaybackClaims& KRPlaybackClaims::shared()
{
    static KRPlaybackClaims claims;
    return claims;
}

void KRPlaybackClaims::take(QObject* holder, std::function<void()> yield)
{
    if (!holder)
        return;
    if (m_holder == holder) {
        m_yield = std::move(yield);
        return;
    }
    const QPointer<QObject> previous = m_holder;
    std::function<void()> previousYield = std::move(m_yield);
    m_holder = holder;
    m_yield = std::move(yield);
    // Told after the claim moved: what it does in answer cannot take it back from under us.
    if (previous && previousYield)
        previousYield();
}

void KRPlaybackClaims::release(QObject* holder)
{
    if (!holder || m_holder != holder)
        return;
    m_holder = nullptr;
    m_yield = nullptr;
}
