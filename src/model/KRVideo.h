#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

// One part of a video, as a dictionary: "cid" (qint64, only when at least 1), "page" (int,
// always), "part" (title text, only when known), "duration" (display text, only when known),
// "width", "height" (only when at least 1) and "rotate" (only when not 0). Loaders that build
// videos themselves may add keys of their own ("aid", "ep_id", "bvid", "cover" …), and the
// page-list fall-back keeps the service's own page objects, so the part stays an open
// dictionary rather than a fixed struct.
using KRVideoPartInfo = QVariantMap;

// The one record of a video that every screen, list, history entry and offline record works
// on. Filled from JSON by KRVideoNormalizer only; other code sets fields afterwards. A new
// video has every number 0, every flag false and every text null. Shared as
// std::shared_ptr<KRVideo>; copying makes an independent video.
class KRVideo {
public:
    KRVideo() = default;

    // Archive id; after compatibility registration it may be a synthetic id.
    qint64 aid() const { return m_aid; }
    void setAid(qint64 aid) { m_aid = aid; }
    // The real archive id; 0 until a loader's compatibility step sets it. canonicalBVID is
    // derived from this, never from aid, because aid may be synthetic.
    qint64 resolvedAid() const { return m_resolvedAid; }
    void setResolvedAid(qint64 resolvedAid) { m_resolvedAid = resolvedAid; }
    // BV identifier as the service gave it (may be a longer text with the BV inside).
    QString bvid() const { return m_bvid; }
    void setBvid(const QString& bvid) { m_bvid = bvid; }
    // Content id of the current part.
    qint64 cid() const { return m_cid; }
    void setCid(qint64 cid) { m_cid = cid; }
    // Partition (region) id.
    qint32 tid() const { return m_tid; }
    void setTid(qint32 tid) { m_tid = tid; }
    qint32 copyright() const { return m_copyright; }
    void setCopyright(qint32 copyright) { m_copyright = copyright; }
    // Partition name.
    QString tname() const { return m_tname; }
    void setTname(const QString& tname) { m_tname = tname; }
    // Plain-text title (markup of search results already removed).
    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    QString coverURL() const { return m_coverURL; }
    void setCoverURL(const QString& coverURL) { m_coverURL = coverURL; }
    QString ownerName() const { return m_ownerName; }
    void setOwnerName(const QString& ownerName) { m_ownerName = ownerName; }
    qint64 ownerMID() const { return m_ownerMID; }
    void setOwnerMID(qint64 ownerMID) { m_ownerMID = ownerMID; }
    QString ownerAvatarURL() const { return m_ownerAvatarURL; }
    void setOwnerAvatarURL(const QString& ownerAvatarURL) { m_ownerAvatarURL = ownerAvatarURL; }
    // Publish time, Unix seconds.
    double publishTimestamp() const { return m_publishTimestamp; }
    void setPublishTimestamp(double publishTimestamp) { m_publishTimestamp = publishTimestamp; }
    // Duration as display text ("03:25", "1:02:03").
    QString durationText() const { return m_durationText; }
    void setDurationText(const QString& durationText) { m_durationText = durationText; }
    qint64 playCount() const { return m_playCount; }
    void setPlayCount(qint64 playCount) { m_playCount = playCount; }
    qint64 danmakuCount() const { return m_danmakuCount; }
    void setDanmakuCount(qint64 danmakuCount) { m_danmakuCount = danmakuCount; }
    qint64 replyCount() const { return m_replyCount; }
    void setReplyCount(qint64 replyCount) { m_replyCount = replyCount; }
    // The reply carried at least one count; without it the rows show "—", not a false 0.
    bool statisticsKnown() const { return m_statisticsKnown; }
    void setStatisticsKnown(bool statisticsKnown) { m_statisticsKnown = statisticsKnown; }
    qint32 pageCount() const { return m_pageCount; }
    void setPageCount(qint32 pageCount) { m_pageCount = pageCount; }
    // The parts in the service's order; empty means one part.
    QList<KRVideoPartInfo> pages() const { return m_pages; }
    void setPages(const QList<KRVideoPartInfo>& pages) { m_pages = pages; }
    // The chosen progressive play address, or a local file address.
    QString playURL() const { return m_playURL; }
    void setPlayURL(const QString& playURL) { m_playURL = playURL; }
    // Ordered, unique play address candidates; empty when none are known.
    QStringList playURLCandidates() const { return m_playURLCandidates; }
    void setPlayURLCandidates(const QStringList& playURLCandidates) { m_playURLCandidates = playURLCandidates; }
    QString summary() const { return m_summary; }
    void setSummary(const QString& summary) { m_summary = summary; }
    qint32 width() const { return m_width; }
    void setWidth(qint32 width) { m_width = width; }
    qint32 height() const { return m_height; }
    void setHeight(qint32 height) { m_height = height; }
    // Quality code (qn) of the current play address; 0 or less means automatic.
    qint32 playbackQuality() const { return m_playbackQuality; }
    void setPlaybackQuality(qint32 playbackQuality) { m_playbackQuality = playbackQuality; }
    // The service's archive state; negative means not viewable.
    qint32 archiveState() const { return m_archiveState; }
    void setArchiveState(qint32 archiveState) { m_archiveState = archiveState; }
    // The service's attribute bit field, kept as given.
    qint32 resourceAttribute() const { return m_resourceAttribute; }
    void setResourceAttribute(qint32 resourceAttribute) { m_resourceAttribute = resourceAttribute; }
    // The video is gone or blocked; lists show it greyed and never open it.
    bool isUnavailable() const { return m_unavailable; }
    void setUnavailable(bool unavailable) { m_unavailable = unavailable; }
    QString unavailableReason() const { return m_unavailableReason; }
    void setUnavailableReason(const QString& unavailableReason) { m_unavailableReason = unavailableReason; }
    // Watch-history position, seconds.
    double historyProgress() const { return m_historyProgress; }
    void setHistoryProgress(double historyProgress) { m_historyProgress = historyProgress; }
    // Watch-history time, Unix seconds.
    double historyViewAt() const { return m_historyViewAt; }
    void setHistoryViewAt(double historyViewAt) { m_historyViewAt = historyViewAt; }
    // Watch-history duration, seconds.
    double historyDuration() const { return m_historyDuration; }
    void setHistoryDuration(double historyDuration) { m_historyDuration = historyDuration; }
    // The record comes from the local history store, not the service.
    bool isLocalHistory() const { return m_localHistory; }
    void setLocalHistory(bool localHistory) { m_localHistory = localHistory; }
    qint64 seasonID() const { return m_seasonID; }
    void setSeasonID(qint64 seasonID) { m_seasonID = seasonID; }
    qint64 episodeID() const { return m_episodeID; }
    void setEpisodeID(qint64 episodeID) { m_episodeID = episodeID; }
    // PGC season type (catalogue kind).
    qint32 seasonType() const { return m_seasonType; }
    void setSeasonType(qint32 seasonType) { m_seasonType = seasonType; }
    QString pgcEpisodeText() const { return m_pgcEpisodeText; }
    void setPgcEpisodeText(const QString& pgcEpisodeText) { m_pgcEpisodeText = pgcEpisodeText; }
    QString pgcSubtitle() const { return m_pgcSubtitle; }
    void setPgcSubtitle(const QString& pgcSubtitle) { m_pgcSubtitle = pgcSubtitle; }
    QString pgcBadge() const { return m_pgcBadge; }
    void setPgcBadge(const QString& pgcBadge) { m_pgcBadge = pgcBadge; }
    QString pgcOrderText() const { return m_pgcOrderText; }
    void setPgcOrderText(const QString& pgcOrderText) { m_pgcOrderText = pgcOrderText; }
    // Anime, film and similar catalogue items, played through the season routes.
    bool isPGC() const { return m_pgc; }
    void setPgc(bool pgc) { m_pgc = pgc; }

    // The valid BV identifier of the video: bvid itself when valid, else the first valid BV
    // embedded in a longer bvid text (a pasted share address), else the BV computed from
    // resolvedAid (1 … 2^51−1); null when none of these exists yet.
    QString canonicalBVID() const;
    // The identity used to de-duplicate lists and to key offline records, local history and
    // the video page's data: "bv:<BV>", else "aid:<resolvedAid or aid>", else
    // "pgc-season:<seasonID>", else "title:<title>|<ownerName>"; null when nothing identifies
    // the video.
    QString feedIdentity() const;

    // Display texts of list rows and the video page.
    QString displayIdentifier() const;        // canonicalBVID, or "BV待解析"
    QString displayPartition() const;         // tname, or "未分类"
    QString displayPlayCount() const;         // compact play count, or "—" when counts are unknown
    QString displayDanmakuCount() const;      // compact danmaku count, or "—"
    QString displayDuration() const;          // durationText, or "--:--"
    QString displayUnavailableReason() const; // unavailableReason, or "视频已失效"

private:
    qint64 m_aid = 0;
    qint64 m_resolvedAid = 0;
    QString m_bvid;
    qint64 m_cid = 0;
    qint32 m_tid = 0;
    qint32 m_copyright = 0;
    QString m_tname;
    QString m_title;
    QString m_coverURL;
    QString m_ownerName;
    qint64 m_ownerMID = 0;
    QString m_ownerAvatarURL;
    double m_publishTimestamp = 0;
    QString m_durationText;
    qint64 m_playCount = 0;
    qint64 m_danmakuCount = 0;
    qint64 m_replyCount = 0;
    bool m_statisticsKnown = false;
    qint32 m_pageCount = 0;
    QList<KRVideoPartInfo> m_pages;
    QString m_playURL;
    QStringList m_playURLCandidates;
    QString m_summary;
    qint32 m_width = 0;
    qint32 m_height = 0;
    qint32 m_playbackQuality = 0;
    qint32 m_archiveState = 0;
    qint32 m_resourceAttribute = 0;
    bool m_unavailable = false;
    QString m_unavailableReason;
    double m_historyProgress = 0;
    double m_historyViewAt = 0;
    double m_historyDuration = 0;
    bool m_localHistory = false;
    qint64 m_seasonID = 0;
    qint64 m_episodeID = 0;
    qint32 m_seasonType = 0;
    QString m_pgcEpisodeText;
    QString m_pgcSubtitle;
    QString m_pgcBadge;
    QString m_pgcOrderText;
    bool m_pgc = false;
};

// True only for exactly 12 characters: "BV1" followed by nine characters of the service's
// base-58 alphabet (so no multi-byte character can pass).
bool KRIsValidBVID(const QString& text);

// A count as list rows show it: negative counts as 0; up to 9999 the number itself; then
// tens of thousands ("1.2万", "123万", "10000万") and hundreds of millions ("1.2亿").
QString KRCompactCount(qint64 count);

// The video goes through the season (PGC) routes: flagged PGC, or carrying a known episode
// or season id. False for no video.
bool KRVideoShouldUsePGC(const KRVideo* video);
inline bool KRVideoShouldUsePGC(const std::shared_ptr<KRVideo>& video) { return KRVideoShouldUsePGC(video.get()); }
