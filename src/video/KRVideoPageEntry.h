#pragma once

#include <QSizeF>
#include <QtGlobal>

#include <memory>

class KRVideo;

// What the video page shows: the video (the offline copy when there is one), the part chosen
// and the picture's shape, whether the detail is on its way, whether playback has started
// (the cover gives way to the player), and what the page was asked to do once it is on
// screen (start playing, show the comments at a comment).
class KRVideoPageEntry {
public:
    // Swaps in the offline copy of `video` when one is kept, and chooses the part whose cid
    // is the video's.
    explicit KRVideoPageEntry(std::shared_ptr<KRVideo> video);

    std::shared_ptr<KRVideo> video() const { return m_video; }
    int selectedPageIndex() const { return m_selectedPageIndex; }
    // The identifier the account's requests use: the resolved one when known.
    qint64 accountAID() const;
    // The chosen part's length as the normaliser keeps it ("mm:ss"); 0 when unknown.
    double selectedPartDuration() const;

    // ---- the detail ----
    bool isDetailLoading() const { return m_detailLoading; }
    void setDetailLoading(bool loading) { m_detailLoading = loading; }
    // The detail in place of the list's entry: a local copy keeps its address, and the part
    // the page was opened on stays chosen (the first part when the detail lacks it).
    void applyDetail(const std::shared_ptr<KRVideo>& detail);

    // ---- parts ----
    // The video as part `index` plays it (its cid; a local address only for the chosen part
    // of a local copy); null for a part there is not.
    std::shared_ptr<KRVideo> videoForPart(int index) const;
    // `part` (from `videoForPart`) becomes the one shown; its picture's shape is not known yet.
    void selectPart(std::shared_ptr<KRVideo> part, int index);

    // ---- the picture's shape ----
    // A real size replaces what the part's metadata says.
    void refreshMediaOrientationFromSize(const QSizeF& size);
    bool hasMediaNaturalSize() const { return !m_mediaNaturalSize.isEmpty(); }
    bool isPortrait() const;
    bool hasKnownOrientation() const;

    // ---- playback and what the page was asked ----
    bool hasStartedPlayback() const { return m_startedPlayback; }
    void setStartedPlayback(bool started) { m_startedPlayback = started; }
    bool playsWhenPresented() const { return m_playWhenPresented; }
    void setPlaysWhenPresented(bool play) { m_playWhenPresented = play; }
    // The automatic start is decided once per page.
    bool claimAutomaticPlaybackDecision();
    bool showsCommentsWhenPresented() const { return m_showCommentsWhenPresented; }
    void setShowsCommentsWhenPresented(bool show) { m_showCommentsWhenPresented = show; }
    // The comment to show (a negative root is none) and the reply in its thread (the root
    // itself when none is given).
    void focusComment(qint64 root, qint64 target);
    qint64 focusedCommentRpid() const { return m_focusedCommentRpid; }
    qint64 focusedReplyRpid() const { return m_focusedReplyRpid; }

private:
    std::shared_ptr<KRVideo> m_video;
    int m_selectedPageIndex = 0;
    bool m_detailLoading = false;
    QSizeF m_mediaNaturalSize;
    bool m_startedPlayback = false;
    bool m_playWhenPresented = false;
    bool m_automaticPlaybackDecisionMade = false;
    bool m_showCommentsWhenPresented = false;
    qint64 m_focusedCommentRpid = 0;
    qint64 m_focusedReplyRpid = 0;
};
