#pragma once

#include "model/KRDanmaku.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Geometry.h"

#include <QImage>
#include <QRectF>
#include <QSet>
#include <QWidget>

#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace platform::uikit {
class DisplayLink;
}

// One danmaku on screen. `frame` is where its line sits now, in the renderer's coordinates;
// `image` holds its text and shadow, drawn once when the line is spawned.
struct KRDanmakuDisplayItem {
    std::shared_ptr<KRDanmaku> danmaku;
    double startTime = 0;
    double endTime = 0;
    int track = 0;
    double labelWidth = 0;
    int displayMode = 1; // 1 scrolls right to left, 4 bottom, 5 top, 6 scrolls left to right
    QRectF frame;
    bool hidden = false;
    QImage image;
};

// The user defaults key of the danmaku switch every player screen reads when it is made and
// writes when the user turns danmaku on or off (a boolean, on when absent).
inline const QString KRDanmakuEnabledDefaultsKey = QStringLiteral("KRDanmakuEnabled");

// Whether a danmaku survives the density setting; the same danmaku decides the same way on
// every feed and replay.
bool KRDanmakuPassesDensity(const KRDanmaku* danmaku, int percent);

// Draws danmaku over the picture: a transparent overlay that takes no input. The owner gives
// it the part's sorted danmaku and feeds the playback time about ten times a second; between
// feeds a display link moves the lines on a clock extrapolated from the last feed.
class KRDanmakuRenderer : public QWidget {
    Q_OBJECT
public:
    explicit KRDanmakuRenderer(QWidget* parent = nullptr);
    ~KRDanmakuRenderer() override;

    // How often an owner feeds the playback time: every 0.1 s, every 0.125 s on A4-class
    // devices, whose renderer runs its own clock at half the rate too.
    static int feedIntervalMilliseconds();

    // Sorted ascending by time. The same list again changes nothing; another clears.
    void setDanmakus(const KRDanmakuList& danmakus);
    KRDanmakuList danmakus() const { return m_danmakus; }
    bool isDanmakuEnabled() const { return m_enabled; }
    void setDanmakuEnabled(bool enabled);
    platform::uikit::EdgeInsets contentInsets() const { return m_contentInsets; }
    void setContentInsets(const platform::uikit::EdgeInsets& insets);

    void updateWithPlaybackTime(double time, bool playing);
    // Drops what is on screen and goes on from `time` without replaying earlier lines.
    void resetForPlaybackTime(double time);
    // Rebuilds the screen as it would look at `time`.
    void reloadVisibleDanmakusForPlaybackTime(double time, bool playing);
    // Adds the user's own new danmaku to the list and shows it at once.
    bool insertAndDisplayDanmaku(const std::shared_ptr<KRDanmaku>& danmaku, double time);
    void clear();

    int activeCount() const { return int(m_activeItems.size()); }
    const std::vector<KRDanmakuDisplayItem>& activeItems() const { return m_activeItems; }
    double trackHeight() const { return m_trackHeight; }
    QRectF usableContentRect() const;
    int scrollTrackCount() const;
    int fixedTrackCount() const;
    // Most lines on screen (unsigned maximum when unlimited) and most new lines per feed.
    unsigned maximumActive() const { return m_maximumActive; }
    unsigned maximumSpawnPerTick() const { return m_maximumSpawnPerTick; }
    bool allowsTrackOverlap() const { return m_allowsTrackOverlap; }
    int displayLinkFrameInterval() const { return m_frameInterval; }
    bool isDisplayLinkRunning() const;
    // Pooled line images waiting for reuse.
    int pooledImageCount() const { return int(m_imagePool.size()); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void reloadPreferences();
    void syncLayoutSize();
    double scrollSpeed(double width) const;
    void followAreaWidth(double time);
    void prepareTracks(double time);
    void ensureTrackCapacity(double time);
    void prepareTracksAroundLinesOnScreen(double time);
    double laneFreeTime(const KRDanmakuDisplayItem& item, double speed) const;
    // With `anyLane`, a line that finds no free lane shares the one that frees first.
    qsizetype availableTrack(const std::vector<double>& tracks, int limit, double time, bool anyLane) const;
    bool spawn(const std::shared_ptr<KRDanmaku>& danmaku, double time, bool anyLane = false);
    void updateFrames(double time);
    void recycle(KRDanmakuDisplayItem& item);
    void recycleAll();
    QImage renderLine(const KRDanmaku& danmaku, double width);
    qsizetype lowerBound(double time) const;
    void startDisplayLinkIfNeeded();
    void stopDisplayLink();
    void displayLinkTick();
    double mediaNow() const;

    KRDanmakuList m_danmakus;
    std::vector<KRDanmakuDisplayItem> m_activeItems;
    std::vector<QImage> m_imagePool;
    std::vector<double> m_scrollTracks;
    std::vector<double> m_topTracks;
    std::vector<double> m_bottomTracks;
    // The area width the scrolling lines on screen and their lanes' free times are timed for.
    double m_scrollAreaWidth = 0;
    // The user's own danmaku already shown by an insert, so the forward feed skips them.
    QSet<const KRDanmaku*> m_shownOwnDanmakus;
    qsizetype m_nextIndex = 0;
    double m_lastPlaybackTime = -1;
    QSizeF m_lastLayoutSize;
    bool m_enabled = true;
    unsigned m_maximumActive = std::numeric_limits<unsigned>::max();
    unsigned m_maximumSpawnPerTick = 12;
    bool m_allowsTrackOverlap = false;
    double m_trackHeight = 22;
    double m_fixedDuration = 3.5;
    int m_frameInterval = 1;
    double m_fontScale = 1;
    double m_displayAreaRatio = 0.5;
    double m_opacity = 0.6;
    int m_densityPercent = 80;
    bool m_lowMemoryMode = false;
    platform::uikit::EdgeInsets m_contentInsets;
    std::unique_ptr<platform::uikit::DisplayLink> m_displayLink;
    double m_clockPlaybackTime = 0;
    double m_clockHostTime = 0;
    bool m_clockPlaying = false;
    platform::ObserverToken m_preferencesObserver;
};
