#include "video/KRVideoPageEntry.h"

#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "playback/KRDASHStreams.h"
#include "playback/KROfflineCacheManager.h"
#include "video/KRVideoDetailSupport.h"

#include <QDebug>

#include <algorithm>

namespace {

// The index of the part with that cid; -1 when none has it.
int partIndexForCID(const KRVideo& video, qint64 cid)
{
    const QList<KRVideoPartInfo> pages = video.pages();
    for (int i = 0; i < pages.size(); ++i) {
        if (KRLongLong(pages.at(i).value(QStringLiteral("cid"))) == cid)
            return i;
    }
    return -1;
}

} // namespace

KRVideoPageEntry::KRVideoPageEntry(std::shared_ptr<KRVideo> video)
    : m_video(std::move(video))
{
    if (m_video && !m_video->isPGC() && m_video->episodeID() <= 0) {
        if (std::shared_ptr<KRVideo> cached = KROfflineCacheManager::sharedManager()->cachedVideoMatchingVideo(*m_video)) {
            m_video = cached;
            // A DASH copy has no single address: its picture file stands for it.
            QString path = cached->playURL();
            if (path.isEmpty()) {
                const KROfflineDASHPlayInfo info = KROfflineCacheManager::sharedManager()->cachedDASHPlaybackInfoForVideo(*cached);
                if (const std::optional<QVariantMap> picture = KRDASHH264VideoStream(info, int(KRLongLong(info.value(QStringLiteral("quality"))))))
                    path = KRDASHStreamURLString(*picture);
            }
            qInfo().noquote() << QStringLiteral("[KorvaneOffline] detail cache-hit identity=%1 cid=%2 path=%3")
                                     .arg(cached->feedIdentity())
                                     .arg(cached->cid())
                                     .arg(path);
        }
    }
    if (m_video)
        m_selectedPageIndex = std::max(partIndexForCID(*m_video, m_video->cid()), 0);
}

qint64 KRVideoPageEntry::accountAID() const
{
    if (!m_video)
        return 0;
    return m_video->resolvedAid() > 0 ? m_video->resolvedAid() : m_video->aid();
}

double KRVideoPageEntry::selectedPartDuration() const
{
    return m_video ? KRDurationSeconds(m_video->pages().value(m_selectedPageIndex).value(QStringLiteral("duration"))) : 0;
}

void KRVideoPageEntry::applyDetail(const std::shared_ptr<KRVideo>& detail)
{
    if (!detail)
        return;
    // The copy's local address stays: the detail only adds what the list lacked.
    const QString local = m_video ? m_video->playURL() : QString();
    const qint32 localQuality = m_video ? m_video->playbackQuality() : 0;
    const qint64 requestedCID = m_video ? m_video->cid() : 0;
    m_video = detail;
    if (KRDetailPlaybackURLIsLocalFile(local)) {
        // So does the quality it was saved at, which the controls and the quality sheet show.
        m_video->setPlayURL(local);
        m_video->setPlaybackQuality(localQuality);
    }
    // The detail names the first part; the page stays on the part it was opened on.
    const int requested = requestedCID > 0 ? partIndexForCID(*detail, requestedCID) : -1;
    if (requested >= 0) {
        m_selectedPageIndex = requested;
        m_video->setCid(requestedCID);
    } else {
        m_selectedPageIndex = std::max(partIndexForCID(*detail, detail->cid()), 0);
    }
}

std::shared_ptr<KRVideo> KRVideoPageEntry::videoForPart(int index) const
{
    if (!m_video)
        return nullptr;
    const QList<KRVideoPartInfo> pages = m_video->pages();
    if (index < 0 || (index >= pages.size() && !(pages.isEmpty() && index == 0)))
        return nullptr;
    auto part = std::make_shared<KRVideo>(*m_video);
    if (!pages.isEmpty()) {
        const KRVideoPartInfo page = pages.at(index);
        part->setCid(KRLongLong(page.value(QStringLiteral("cid"))));
        if (!KRDetailPlaybackURLIsLocalFile(m_video->playURL()) || index != m_selectedPageIndex) {
            part->setPlayURL(QString());
            part->setPlayURLCandidates({});
        }
    }
    return part;
}

void KRVideoPageEntry::selectPart(std::shared_ptr<KRVideo> part, int index)
{
    m_video = std::move(part);
    m_selectedPageIndex = index;
    m_mediaNaturalSize = QSizeF();
}

void KRVideoPageEntry::refreshMediaOrientationFromSize(const QSizeF& size)
{
    if (size.width() > 0 && size.height() > 0)
        m_mediaNaturalSize = size;
}

bool KRVideoPageEntry::isPortrait() const
{
    if (m_mediaNaturalSize.width() > 0 && m_mediaNaturalSize.height() > 0)
        return m_mediaNaturalSize.height() >= m_mediaNaturalSize.width();
    if (!m_video)
        return false;
    qint64 width = m_video->width(), height = m_video->height();
    const QList<KRVideoPartInfo> pages = m_video->pages();
    if (m_selectedPageIndex >= 0 && m_selectedPageIndex < pages.size()) {
        const KRVideoPartInfo& page = pages.at(m_selectedPageIndex);
        const qint64 pageWidth = KRLongLong(page.value(QStringLiteral("width")));
        const qint64 pageHeight = KRLongLong(page.value(QStringLiteral("height")));
        if (pageWidth >= 1)
            width = pageWidth;
        if (pageHeight >= 1)
            height = pageHeight;
        if (KRLongLong(page.value(QStringLiteral("rotate"))) % 180 == 90)
            std::swap(width, height);
    }
    return width > 0 && height > 0 && height >= width;
}

bool KRVideoPageEntry::hasKnownOrientation() const
{
    if (m_mediaNaturalSize.width() > 0 && m_mediaNaturalSize.height() > 0)
        return true;
    if (!m_video)
        return false;
    const QList<KRVideoPartInfo> pages = m_video->pages();
    if (m_selectedPageIndex >= 0 && m_selectedPageIndex < pages.size()) {
        const KRVideoPartInfo& page = pages.at(m_selectedPageIndex);
        if (KRLongLong(page.value(QStringLiteral("width"))) > 0 && KRLongLong(page.value(QStringLiteral("height"))) > 0)
            return true;
    }
    return m_video->width() > 0 && m_video->height() > 0;
}

bool KRVideoPageEntry::claimAutomaticPlaybackDecision()
{
    if (m_automaticPlaybackDecisionMade)
        return false;
    m_automaticPlaybackDecisionMade = true;
    return true;
}

void KRVideoPageEntry::focusComment(qint64 root, qint64 target)
{
    m_focusedCommentRpid = root < 0 ? 0 : root;
    m_focusedReplyRpid = target >= 1 ? target : m_focusedCommentRpid;
}
