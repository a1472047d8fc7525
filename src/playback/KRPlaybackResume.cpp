#include "playback/KRPlaybackResume.h"

bool KRPlaybackResume::offers(double time, double duration)
{
    return time >= kMinimumTime && (duration <= 0 || time < duration - kEndMargin);
}

void KRPlaybackResume::resetPlaybackResumeState()
{
    ++m_generation;
    m_resolved = false;
    m_startTime = 0;
}

void KRPlaybackResume::resolveAt(double time)
{
    m_resolved = true;
    m_startTime = time;
}
