#include "platform/media/AudioSession.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaNotifications.h"

#include <algorithm>
#include <cmath>

namespace platform::media {

AudioSession& AudioSession::sharedInstance()
{
    static AudioSession& session = *new AudioSession; // lives as long as the process
    return session;
}

bool AudioSession::takeFailure(const QString& call, std::optional<platform::Error>* error)
{
    const auto failure = m_failures.constFind(call);
    if (failure == m_failures.constEnd()) {
        if (error)
            error->reset();
        return false;
    }
    if (error)
        *error = *failure;
    m_failures.remove(call);
    return true;
}

bool AudioSession::setCategory(const QString& category, std::optional<platform::Error>* error)
{
    if (takeFailure(QStringLiteral("setCategory"), error))
        return false;
    m_category = category;
    return true;
}

bool AudioSession::setActive(bool active, bool, std::optional<platform::Error>* error)
{
    if (takeFailure(QStringLiteral("setActive"), error))
        return false;
    m_active = active;
    return true;
}

qint32 AudioSession::addRouteChangeListener()
{
    return UnsupportedPropertyStatus;
}

void AudioSession::setOutputVolume(double volume)
{
    volume = std::clamp(std::isfinite(volume) ? volume : 1.0, 0.0, 1.0);
    if (volume == m_volume)
        return;
    m_volume = volume;
    platform::NotificationCenter::defaultCenter().post(AudioSessionOutputVolumeDidChangeNotification, this);
}

void AudioSession::failNextCallForTesting(const QString& call, const platform::Error& error)
{
    m_failures.insert(call, error);
}

void AudioSession::postInterruptionForTesting(bool began, unsigned options)
{
    QVariantMap info{{AudioSessionInterruptionTypeKey, began ? 1u : 0u}};
    if (!began)
        info.insert(AudioSessionInterruptionOptionKey, options);
    platform::NotificationCenter::defaultCenter().post(AudioSessionInterruptionNotification, this, info);
}

void AudioSession::postInterruptionEndedWithoutOptionsForTesting()
{
    platform::NotificationCenter::defaultCenter().post(AudioSessionInterruptionNotification, this,
                                                        {{AudioSessionInterruptionTypeKey, 0u}});
}

void AudioSession::outputDeviceBecameUnavailable()
{
    postRouteChange(RouteChangeReasonOldDeviceUnavailable);
}

void AudioSession::postRouteChange(unsigned reason)
{
    platform::NotificationCenter::defaultCenter().post(AudioSessionRouteChangeNotification, this,
                                                        {{AudioSessionRouteChangeReasonKey, reason}});
}

void AudioSession::postRouteChangeForTesting(unsigned reason)
{
    postRouteChange(reason);
}

void AudioSession::resetForTesting()
{
    m_category = CategoryAmbient;
    m_active = false;
    m_volume = 1.0;
    m_failures.clear();
}

} // namespace platform::media
