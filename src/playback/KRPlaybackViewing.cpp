#include "playback/KRPlaybackViewing.h"

#include "account/KRAccountClient.h"
#include "model/KRVideo.h"
#include "store/KRLocalHistoryStore.h"

#include <QCoreApplication>
#include <QDateTime>

KRPlaybackViewing::KRPlaybackViewing(SourceReader source, Reported reported, QObject* owner)
    : m_source(std::move(source)), m_reported(std::move(reported)), m_owner(owner)
{
}

KRPlaybackViewing::~KRPlaybackViewing() { stopHistoryHeartbeatTimer(); }

void KRPlaybackViewing::startHistoryTrackingIfNeeded()
{
    if (m_active || !m_source().video)
        return;
    m_active = true;
    m_startTS = QDateTime::currentSecsSinceEpoch();
    send(Start, false);
    if (m_serviceReports)
        m_heartbeatTimer.start(kHeartbeatIntervalMs, [this] { send(Periodic, false); });
}

void KRPlaybackViewing::report(int playType) { send(playType, false); }

void KRPlaybackViewing::finishHistoryTrackingCompleted(bool completed)
{
    stopHistoryHeartbeatTimer();
    if (!m_active)
        return;
    send(End, completed);
    m_active = false;
}

void KRPlaybackViewing::stopHistoryHeartbeatTimer() { m_heartbeatTimer.stop(); }

void KRPlaybackViewing::send(int playType, bool completed)
{
    if (!m_active)
        return;
    const Source source = m_source();
    if (!source.video)
        return;
    const double time = source.time;
    const double length = source.duration;
    KRLocalHistoryStore::sharedStore().recordVideo(source.video, completed ? length : time, length, completed, source.offline);
    if (m_reported)
        m_reported(playType);
    if (!m_serviceReports)
        return;
    const qint32 played = completed ? -1 : qint32(time);
    const qint32 real = qint32(QDateTime::currentSecsSinceEpoch() - m_startTS);
    // The end goes out on behalf of the application, which lives as long as the client does: a
    // screen let go right after still has its viewing reported.
    QObject* owner = playType == End ? QCoreApplication::instance() : m_owner;
    KRAccountClient::sharedClient()->reportPlaybackHeartbeatForAID(source.aid, source.video->cid(), m_startTS, playType, played, real,
                                                                   qint32(length), qint32(time), source.quality, owner,
                                                                   [](bool, const QString&, const QVariant&) {});
}
