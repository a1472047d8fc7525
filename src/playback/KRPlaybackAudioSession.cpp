#include "playback/KRPlaybackAudioSession.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AudioSession.h"
#include "platform/media/MediaNotifications.h"
#include "store/KRDiagnostics.h"

#include <QVariantMap>

#include <optional>

using platform::media::AudioSession;

namespace {

QString yesNo(bool value)
{
    return value ? QStringLiteral("YES") : QStringLiteral("NO");
}

QString errorText(const std::optional<platform::Error>& error)
{
    return QStringLiteral("%1/%2").arg(error ? error->domain() : QString()).arg(error ? error->code() : 0);
}

unsigned unsignedOrZero(const QVariant& value)
{
    bool ok = false;
    const unsigned number = value.toUInt(&ok);
    return ok ? number : 0;
}

} // namespace

KRPlaybackAudioSession* KRPlaybackAudioSession::sharedSession()
{
    static KRPlaybackAudioSession* session = new KRPlaybackAudioSession; // lives as long as the process
    return session;
}

bool KRPlaybackAudioSession::activateForPlaybackWithReason(const QString& reason)
{
    m_delayed.cancel(QStringLiteral("deactivate"));
    m_playbackActive = true;
    AudioSession& session = AudioSession::sharedInstance();
    installLegacyInterruptionDelegateIfNeeded();

    bool categoryOK = false;
    bool changed = true;
    std::optional<platform::Error> categoryError;
    if (m_playbackCategoryConfigured && session.category() == AudioSession::CategoryPlayback) {
        categoryOK = true;
        changed = false;
    } else {
        categoryOK = session.setCategory(AudioSession::CategoryPlayback, &categoryError);
        if (categoryOK)
            m_playbackCategoryConfigured = true;
    }
    std::optional<platform::Error> activeError;
    const bool active = session.setActive(true, false, &activeError);
    KRDiagnostics::recordEvent(QStringLiteral("audio-session-activate"),
                               QStringLiteral("reason=%1 category=%2 changed=%3 active=%4 categoryError=%5 activeError=%6")
                                   .arg(reason.isEmpty() ? QStringLiteral("unknown") : reason, yesNo(categoryOK), yesNo(changed),
                                        yesNo(active), errorText(categoryError), errorText(activeError)));
    return categoryOK && active;
}

void KRPlaybackAudioSession::markPlaybackInactive()
{
    m_playbackActive = false;
    m_delayed.schedule(QStringLiteral("deactivate"), 300, [this] { deactivateIfStillInactive(); });
}

void KRPlaybackAudioSession::deactivateIfStillInactive()
{
    if (m_playbackActive)
        return;
    std::optional<platform::Error> error;
    const bool success = AudioSession::sharedInstance().setActive(false, true, &error);
    KRDiagnostics::recordEvent(QStringLiteral("audio-session-deactivate"),
                               QStringLiteral("success=%1 domain=%2 code=%3")
                                   .arg(yesNo(success), error ? error->domain() : QString())
                                   .arg(error ? error->code() : 0));
}

void KRPlaybackAudioSession::reactivateIfNeededWithReason(const QString& reason)
{
    if (m_playbackActive)
        activateForPlaybackWithReason(reason);
}

void KRPlaybackAudioSession::installLegacyInterruptionDelegateIfNeeded()
{
    if (platform::DeviceProfile::systemMajorVersion() >= 6)
        return;
    AudioSession& session = AudioSession::sharedInstance();
    if (!m_legacyInterruptionDelegateInstalled && session.respondsToSetDelegate()) {
        m_legacyInterruptionDelegateInstalled = true;
        KRDiagnostics::recordEvent(QStringLiteral("audio-session-legacy-interruption-bridge"),
                                   QStringLiteral("installed=YES system=iOS5"));
    }
    if (m_legacyRouteChangeListenerInstalled)
        return;
    const qint32 status = session.addRouteChangeListener();
    m_legacyRouteChangeListenerInstalled = status == 0;
    KRDiagnostics::recordEvent(QStringLiteral("audio-session-legacy-route-bridge"),
                               QStringLiteral("installed=%1 status=%2 system=iOS5")
                                   .arg(yesNo(m_legacyRouteChangeListenerInstalled))
                                   .arg(status));
}

void KRPlaybackAudioSession::beginInterruption()
{
    platform::dispatchMain([this] { postLegacyInterruptionBegan(); });
}

void KRPlaybackAudioSession::endInterruption()
{
    platform::dispatchMain([this] { postLegacyInterruptionEndedWithOptions(1u); });
}

void KRPlaybackAudioSession::endInterruptionWithFlags(unsigned flags)
{
    platform::dispatchMain([this, flags] { postLegacyInterruptionEndedWithOptions(flags & 1u); });
}

void KRPlaybackAudioSession::postLegacyInterruptionBegan()
{
    platform::NotificationCenter::defaultCenter().post(platform::media::AudioSessionInterruptionNotification,
                                                        &AudioSession::sharedInstance(),
                                                        {{platform::media::AudioSessionInterruptionTypeKey, 1u}});
}

void KRPlaybackAudioSession::postLegacyInterruptionEndedWithOptions(const QVariant& options)
{
    platform::NotificationCenter::defaultCenter().post(
        platform::media::AudioSessionInterruptionNotification, &AudioSession::sharedInstance(),
        {{platform::media::AudioSessionInterruptionTypeKey, 0u},
         {platform::media::AudioSessionInterruptionOptionKey, unsignedOrZero(options)}});
}

void KRPlaybackAudioSession::postLegacyRouteChangeWithReason(const QVariant& reason)
{
    platform::NotificationCenter::defaultCenter().post(platform::media::AudioSessionRouteChangeNotification,
                                                        &AudioSession::sharedInstance(),
                                                        {{platform::media::AudioSessionRouteChangeReasonKey, unsignedOrZero(reason)}});
}

void KRPlaybackAudioSession::resetForTesting()
{
    m_delayed.cancelAll();
    m_playbackActive = false;
    m_playbackCategoryConfigured = false;
    m_legacyInterruptionDelegateInstalled = false;
    m_legacyRouteChangeListenerInstalled = false;
}

void KRLegacyAudioRouteChangeListener(void* clientData, quint32 propertyID, quint32 dataSize, const void* data)
{
    if (!clientData || !data || dataSize == 0 || propertyID != KRAudioSessionRouteChangePropertyID)
        return;
    const QVariant reason = static_cast<const QVariantMap*>(data)->value(QStringLiteral("OutputDeviceDidChange_Reason"));
    bool isNumber = false;
    const int value = reason.toInt(&isNumber);
    if (!isNumber || reason.typeId() == QMetaType::QString)
        return;
    auto* session = static_cast<KRPlaybackAudioSession*>(clientData);
    platform::dispatchMain([session, value] { session->postLegacyRouteChangeWithReason(value); });
}
