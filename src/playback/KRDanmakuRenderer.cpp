#include "playback/KRDanmakuRenderer.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/DisplayLink.h"
#include "platform/uikit/Label.h"
#include "store/KRPreferences.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr unsigned Unlimited = std::numeric_limits<unsigned>::max();

bool isFixedMode(int displayMode) { return displayMode == 4 || displayMode == 5; }

QFont fontForDanmaku(const KRDanmaku& danmaku, double fontScale)
{
    const double base = danmaku.fontSize() >= 36 ? 17 : danmaku.fontSize() >= 25 ? 15 : 13;
    return platform::uikit::Label::systemFont(std::clamp(base * fontScale, 7.0, 44.0), true);
}

} // namespace

bool KRDanmakuPassesDensity(const KRDanmaku* danmaku, int percent)
{
    if (percent >= 100 || !danmaku)
        return true;
    if (percent < 1)
        return false;
    quint64 key = quint64(danmaku->danmakuID());
    if (danmaku->danmakuID() == 0) {
        const quint64 timeKey = quint64(qint64(std::llround(danmaku->time() * 1000))) * 1099511628211ull;
        const quint64 textHash = quint64(uint(qHash(danmaku->text(), 0)));
        const quint64 senderHash = quint64(uint(qHash(danmaku->senderHash(), 0)));
        key = timeKey ^ textHash ^ (senderHash << 17);
    }
    quint64 x = key;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    return x % 100 < quint64(percent);
}

KRDanmakuRenderer::KRDanmakuRenderer(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    m_displayLink = std::make_unique<platform::uikit::DisplayLink>(this, [this] { displayLinkTick(); });
    m_clockHostTime = mediaNow();
    reloadPreferences();
    m_preferencesObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRPreferencesDidChangeNotification, nullptr, [this](const platform::Notification&) {
            reloadPreferences();
            clear();
        });
}

int KRDanmakuRenderer::feedIntervalMilliseconds() { return KRPreferences::sharedPreferences().isA4OrEarlierDevice() ? 125 : 100; }

KRDanmakuRenderer::~KRDanmakuRenderer()
{
    stopDisplayLink();
}

double KRDanmakuRenderer::mediaNow() const { return platform::MainClock::now(); }

void KRDanmakuRenderer::reloadPreferences()
{
    const KRPreferences& preferences = KRPreferences::sharedPreferences();
    m_lowMemoryMode = preferences.isA4OrEarlierDevice();
    const int maximum = preferences.danmakuMaximumActive();
    if (maximum == 0) {
        m_maximumActive = Unlimited;
        m_allowsTrackOverlap = true;
    } else {
        m_maximumActive = unsigned(std::max(maximum, 4));
        m_allowsTrackOverlap = false;
    }
    m_displayAreaRatio = std::clamp(preferences.danmakuDisplayAreaPercent() / 100.0, 0.1, 1.0);
    m_opacity = std::clamp(preferences.danmakuOpacityPercent() / 100.0, 0.2, 1.0);
    m_densityPercent = std::clamp(preferences.danmakuDensityPercent(), 20, 100);
    const QSizeF screen = platform::DeviceProfile::screenSize();
    const double shorter = std::min(screen.width(), screen.height());
    const double screenFactor = shorter > 0 ? std::clamp(shorter / 320.0, 1.0, 1.35) : 1.0;
    m_fontScale = screenFactor * preferences.danmakuFontLevel() / 100.0;
    m_trackHeight = std::max(std::ceil(m_fontScale * 17) + 3, 22.0);
    m_fixedDuration = 3.5;
    if (m_lowMemoryMode) {
        m_maximumActive = std::min(m_maximumActive, 12u);
        m_allowsTrackOverlap = false;
        m_frameInterval = 2;
        m_maximumSpawnPerTick = m_maximumActive < 9 ? 2 : 3;
    } else {
        m_frameInterval = 1;
        const unsigned m = m_maximumActive;
        m_maximumSpawnPerTick = m == Unlimited ? 12 : m < 9 ? 2 : m <= 12 ? 3 : m <= 18 ? 4 : m <= 24 ? 5 : 8;
    }
    m_displayLink->setFrameInterval(m_frameInterval);
}

QRectF KRDanmakuRenderer::usableContentRect() const
{
    const QRectF bounds(QPointF(0, 0), QSizeF(size()));
    const QRectF inset = platform::uikit::EdgeInsetsInsetRect(bounds, m_contentInsets);
    const double height = std::max(std::floor((bounds.height() - m_contentInsets.top - m_contentInsets.bottom) * m_displayAreaRatio),
                                   m_trackHeight);
    return QRectF(inset.x(), inset.y(), std::max(inset.width(), 1.0), height);
}

int KRDanmakuRenderer::scrollTrackCount() const
{
    const int rows = int(std::floor(usableContentRect().height() / m_trackHeight));
    return std::clamp(rows, 1, 24);
}

int KRDanmakuRenderer::fixedTrackCount() const
{
    const int rows = int(std::floor(usableContentRect().height() / m_trackHeight));
    return rows < 4 ? 1 : 2;
}

double KRDanmakuRenderer::scrollSpeed(double width) const
{
    return std::min(std::max(width, 240.0) * 72.0 / 320.0, 180.0);
}

// A wider or narrower area has another speed. The scrolling lines on screen take it on where
// they are, each keeping its distance from the edge it came in at, so the gaps between the lines
// of a lane stay as they were; the lanes' free times follow. Lines timed for the old width and
// lines spawned for the new one would otherwise move at different speeds and run into each other.
void KRDanmakuRenderer::followAreaWidth(double time)
{
    const double width = usableContentRect().width();
    if (width == m_scrollAreaWidth)
        return;
    const double oldSpeed = scrollSpeed(m_scrollAreaWidth);
    const double speed = scrollSpeed(width);
    m_scrollAreaWidth = width;
    std::vector<bool> laneHasLine(m_scrollTracks.size(), false);
    for (KRDanmakuDisplayItem& item : m_activeItems) {
        if (isFixedMode(item.displayMode))
            continue;
        item.startTime = time - (time - item.startTime) * oldSpeed / speed;
        item.endTime = item.startTime + (width + item.labelWidth) / speed;
        if (size_t(item.track) >= m_scrollTracks.size())
            continue;
        const double laneFree = laneFreeTime(item, speed);
        double& free = m_scrollTracks[size_t(item.track)];
        free = laneHasLine[size_t(item.track)] ? std::max(free, laneFree) : laneFree;
        laneHasLine[size_t(item.track)] = true;
    }
}

void KRDanmakuRenderer::prepareTracks(double time)
{
    m_scrollTracks.assign(size_t(scrollTrackCount()), time);
    m_topTracks.assign(size_t(fixedTrackCount()), time);
    m_bottomTracks.assign(size_t(fixedTrackCount()), time);
}

// Lanes free from `time`, except where a line still on screen keeps its lane until later.
void KRDanmakuRenderer::prepareTracksAroundLinesOnScreen(double time)
{
    prepareTracks(time);
    const double speed = scrollSpeed(m_scrollAreaWidth);
    for (const KRDanmakuDisplayItem& item : m_activeItems) {
        std::vector<double>& tracks = item.displayMode == 4 ? m_bottomTracks : item.displayMode == 5 ? m_topTracks : m_scrollTracks;
        if (size_t(item.track) < tracks.size())
            tracks[size_t(item.track)] = std::max(tracks[size_t(item.track)], laneFreeTime(item, speed));
    }
}

// From when a line's lane takes the next one. Every line moves at the area's one speed, so the
// next line of the lane never catches up with a scrolling one once its tail is 18 points in.
double KRDanmakuRenderer::laneFreeTime(const KRDanmakuDisplayItem& item, double speed) const
{
    return isFixedMode(item.displayMode) ? item.endTime + 0.1 : item.startTime + (item.labelWidth + 18) / speed;
}

void KRDanmakuRenderer::ensureTrackCapacity(double time)
{
    const auto grow = [time](std::vector<double>& tracks, int count) {
        while (int(tracks.size()) < count)
            tracks.push_back(time);
    };
    grow(m_scrollTracks, scrollTrackCount());
    grow(m_topTracks, fixedTrackCount());
    grow(m_bottomTracks, fixedTrackCount());
}

qsizetype KRDanmakuRenderer::availableTrack(const std::vector<double>& tracks, int limit, double time, bool anyLane) const
{
    const qsizetype count = std::min<qsizetype>(std::max(limit, 0), qsizetype(tracks.size()));
    for (qsizetype i = 0; i < count; ++i) {
        if (tracks[size_t(i)] <= time + 0.02)
            return i;
    }
    if (!(m_allowsTrackOverlap || anyLane) || count == 0)
        return -1;
    qsizetype best = 0;
    for (qsizetype i = 1; i < count; ++i) {
        if (tracks[size_t(i)] < tracks[size_t(best)])
            best = i;
    }
    return best;
}

QImage KRDanmakuRenderer::renderLine(const KRDanmaku& danmaku, double width)
{
    const QSize imageSize(int(std::ceil(width)), int(std::ceil(m_trackHeight)));
    QImage image;
    // A pooled image of the same size is drawn over; others are let go.
    for (auto it = m_imagePool.rbegin(); it != m_imagePool.rend(); ++it) {
        if (it->size() == imageSize) {
            image = std::move(*it);
            m_imagePool.erase(std::next(it).base());
            break;
        }
    }
    if (image.isNull())
        image = QImage(imageSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const quint32 rgb = danmaku.colorRGB();
    const QColor color(int((rgb >> 16) & 0xff), int((rgb >> 8) & 0xff), int(rgb & 0xff));
    const double luminance = 0.299 * color.redF() + 0.587 * color.greenF() + 0.114 * color.blueF();
    QColor shadow = luminance > 0.55 ? QColor(Qt::black) : QColor(Qt::white);
    shadow.setAlphaF(0.92f);
    QPainter painter(&image);
    painter.setFont(fontForDanmaku(danmaku, m_fontScale));
    const QRectF rect(0, 0, width, m_trackHeight);
    painter.setPen(shadow);
    painter.drawText(rect.translated(1, 1), Qt::AlignCenter | Qt::TextSingleLine, danmaku.text());
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, danmaku.text());
    return image;
}

bool KRDanmakuRenderer::spawn(const std::shared_ptr<KRDanmaku>& danmaku, double time, bool anyLane)
{
    if (!danmaku || unsigned(activeCount()) >= m_maximumActive)
        return false;
    const int mode = danmaku->mode();
    if (mode == 7 || mode == 8 || mode == 9)
        return false;
    const int displayMode = mode == 4 ? 4 : mode == 5 ? 5 : mode == 6 ? 6 : 1;
    followAreaWidth(time);
    std::vector<double>& tracks = displayMode == 4 ? m_bottomTracks : displayMode == 5 ? m_topTracks : m_scrollTracks;
    const int limit = isFixedMode(displayMode) ? fixedTrackCount() : scrollTrackCount();
    const qsizetype track = availableTrack(tracks, limit, time, anyLane);
    if (track < 0)
        return false;
    const QFontMetricsF metrics(fontForDanmaku(*danmaku, m_fontScale));
    const double width = std::clamp(std::ceil(metrics.horizontalAdvance(danmaku->text())) + 8, 20.0, 720.0);

    KRDanmakuDisplayItem item;
    item.danmaku = danmaku;
    // A line fed late (the feed looks back 0.4 s) would enter already part-way across, into the
    // tail of the lane's previous line: it starts once its lane is free instead. A busy lane
    // reused on purpose keeps the line's own time.
    const double laneFree = tracks[size_t(track)];
    item.startTime = laneFree <= time + 0.02 ? std::max(danmaku->time(), laneFree) : danmaku->time();
    item.track = int(track);
    item.labelWidth = width;
    item.displayMode = displayMode;
    item.frame = QRectF(0, 0, width, m_trackHeight);
    item.image = renderLine(*danmaku, width);
    const double speed = scrollSpeed(m_scrollAreaWidth);
    item.endTime = item.startTime + (isFixedMode(displayMode) ? m_fixedDuration : (m_scrollAreaWidth + width) / speed);
    tracks[size_t(track)] = laneFreeTime(item, speed);
    m_activeItems.push_back(std::move(item));
    return true;
}

void KRDanmakuRenderer::updateFrames(double time)
{
    followAreaWidth(time);
    const QRectF area = usableContentRect();
    const double areaWidth = area.width();
    for (qsizetype i = qsizetype(m_activeItems.size()) - 1; i >= 0; --i) {
        KRDanmakuDisplayItem& item = m_activeItems[size_t(i)];
        if (time >= item.endTime || item.startTime > time + 0.25) {
            recycle(item);
            m_activeItems.erase(m_activeItems.begin() + i);
            continue;
        }
        const int laneCount = isFixedMode(item.displayMode) ? fixedTrackCount() : scrollTrackCount();
        item.hidden = item.track >= laneCount;
        const double y = item.displayMode == 4 ? area.bottom() - (item.track + 1) * m_trackHeight - 2
                                               : area.top() + item.track * m_trackHeight + 2;
        double x = 0;
        if (isFixedMode(item.displayMode)) {
            x = area.left() + (areaWidth - item.labelWidth) / 2;
        } else {
            const double p = std::clamp((time - item.startTime) / std::max(item.endTime - item.startTime, 0.1), 0.0, 1.0);
            x = item.displayMode == 6 ? area.left() - item.labelWidth + p * (areaWidth + item.labelWidth)
                                      : area.right() - p * (areaWidth + item.labelWidth);
        }
        item.frame = QRectF(x, y, item.labelWidth, m_trackHeight);
    }
    update();
}

void KRDanmakuRenderer::recycle(KRDanmakuDisplayItem& item)
{
    size_t limit = m_maximumActive == Unlimited ? 48 : size_t(m_maximumActive) + 4;
    if (m_lowMemoryMode)
        limit = std::min<size_t>(limit, 12);
    if (!item.image.isNull() && m_imagePool.size() < limit)
        m_imagePool.push_back(std::move(item.image));
    item.image = QImage();
}

void KRDanmakuRenderer::recycleAll()
{
    for (KRDanmakuDisplayItem& item : m_activeItems)
        recycle(item);
    m_activeItems.clear();
    update();
}

qsizetype KRDanmakuRenderer::lowerBound(double time) const
{
    const auto it = std::lower_bound(m_danmakus.cbegin(), m_danmakus.cend(), time,
                                     [](const std::shared_ptr<KRDanmaku>& d, double t) { return d->time() < t; });
    return qsizetype(it - m_danmakus.cbegin());
}

void KRDanmakuRenderer::setDanmakus(const KRDanmakuList& danmakus)
{
    if (danmakus.constData() == m_danmakus.constData() && danmakus.size() == m_danmakus.size())
        return;
    m_danmakus = danmakus;
    clear();
}

void KRDanmakuRenderer::setDanmakuEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (!enabled)
        hide();
    else if (parentWidget())
        show();
    if (!enabled) {
        stopDisplayLink();
        clear();
    } else {
        m_lastPlaybackTime = -1;
    }
}

void KRDanmakuRenderer::setContentInsets(const platform::uikit::EdgeInsets& insets)
{
    if (insets == m_contentInsets)
        return;
    m_contentInsets = insets;
    updateFrames(std::max(m_lastPlaybackTime, 0.0));
}

void KRDanmakuRenderer::updateWithPlaybackTime(double time, bool playing)
{
    if (!m_enabled || m_danmakus.isEmpty() || !std::isfinite(time) || time < 0) {
        m_clockPlaying = false;
        stopDisplayLink();
        return;
    }
    // A widget that is not shown gets its resize event only when shown; feeds catch up here.
    syncLayoutSize();
    if (m_lastPlaybackTime < 0 || time > m_lastPlaybackTime + 1.5 || time < m_lastPlaybackTime - 0.3)
        resetForPlaybackTime(time);
    int spawned = 0;
    if (playing) {
        if (!isDisplayLinkRunning())
            updateFrames(time);
        int examined = 0;
        while (unsigned(spawned) < m_maximumSpawnPerTick && examined < 32 && m_nextIndex < m_danmakus.size()) {
            const std::shared_ptr<KRDanmaku>& danmaku = m_danmakus.at(m_nextIndex);
            if (danmaku->time() > time + 0.08)
                break;
            ++m_nextIndex;
            ++examined;
            if (m_shownOwnDanmakus.contains(danmaku.get()))
                continue; // already put on screen when the user sent it
            if (danmaku->time() >= time - 0.4 && KRDanmakuPassesDensity(danmaku.get(), m_densityPercent)
                && spawn(danmaku, time))
                ++spawned;
        }
    }
    if (!playing || spawned > 0)
        updateFrames(time);
    m_lastPlaybackTime = m_clockPlaybackTime = time;
    m_clockHostTime = mediaNow();
    m_clockPlaying = playing;
    if (playing)
        startDisplayLinkIfNeeded();
    else
        stopDisplayLink();
}

void KRDanmakuRenderer::resetForPlaybackTime(double time)
{
    recycleAll();
    m_shownOwnDanmakus.clear();
    const double start = std::max(time, 0.0);
    prepareTracks(start);
    m_nextIndex = lowerBound(std::max(start - 0.08, 0.0));
    m_lastPlaybackTime = start;
}

void KRDanmakuRenderer::reloadVisibleDanmakusForPlaybackTime(double time, bool playing)
{
    stopDisplayLink();
    recycleAll();
    m_shownOwnDanmakus.clear();
    const double target = std::max(std::isfinite(time) ? time : 0.0, 0.0);
    const double areaWidth = usableContentRect().width();
    const double lookBack = std::max(3.5, (areaWidth + 720) / std::max(scrollSpeed(areaWidth), 1.0));
    const double windowStart = std::max(target - lookBack - 0.15, 0.0);
    const qsizetype first = lowerBound(windowStart);
    const qsizetype end = lowerBound(target + 0.081);
    prepareTracks(windowStart);
    // Signed on purpose: near the start of the list end − 384 is negative.
    const qsizetype from = std::max(first, end - (m_lowMemoryMode ? qsizetype(128) : qsizetype(384)));
    for (qsizetype i = from; i < end; ++i) {
        const std::shared_ptr<KRDanmaku>& danmaku = m_danmakus.at(i);
        if (!KRDanmakuPassesDensity(danmaku.get(), m_densityPercent))
            continue;
        updateFrames(danmaku->time());
        spawn(danmaku, danmaku->time());
    }
    updateFrames(target);
    m_nextIndex = end;
    m_lastPlaybackTime = m_clockPlaybackTime = target;
    m_clockHostTime = mediaNow();
    m_clockPlaying = playing;
    if (playing)
        startDisplayLinkIfNeeded();
}

bool KRDanmakuRenderer::insertAndDisplayDanmaku(const std::shared_ptr<KRDanmaku>& danmaku, double time)
{
    if (!danmaku || !m_enabled || !std::isfinite(time) || danmaku->text().isEmpty())
        return false;
    const double start = std::max(time, 0.0);
    const KRDanmaku* remembered = m_nextIndex < m_danmakus.size() ? m_danmakus.at(m_nextIndex).get() : nullptr;
    KRDanmakuList list = m_danmakus;
    list.append(danmaku);
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        if (a->time() != b->time())
            return a->time() < b->time();
        return a->danmakuID() < b->danmakuID();
    });
    m_danmakus = list;
    m_nextIndex = m_danmakus.size();
    if (remembered) {
        for (qsizetype i = 0; i < m_danmakus.size(); ++i) {
            if (m_danmakus.at(i).get() == remembered) {
                m_nextIndex = i;
                break;
            }
        }
    }
    if (m_scrollTracks.empty())
        prepareTracks(start);
    bool shown = spawn(danmaku, start);
    if (!shown) {
        if (!m_activeItems.empty()) {
            recycle(m_activeItems.front());
            m_activeItems.erase(m_activeItems.begin());
        }
        // The lanes are counted again from what is left on screen, not emptied: the part's next
        // lines must not come into lanes whose lines have only just come in. The user's line
        // shows in any case, in the lane that frees first when none is free yet.
        prepareTracksAroundLinesOnScreen(start);
        shown = spawn(danmaku, start) || spawn(danmaku, start, true);
    }
    // Whether or not it found room, the forward feed must not bring it a second time.
    m_shownOwnDanmakus.insert(danmaku.get());
    updateFrames(start);
    m_lastPlaybackTime = start;
    return shown;
}

void KRDanmakuRenderer::clear()
{
    recycleAll();
    m_scrollTracks.clear();
    m_topTracks.clear();
    m_bottomTracks.clear();
    m_shownOwnDanmakus.clear();
    m_nextIndex = 0;
    m_lastPlaybackTime = -1;
}

bool KRDanmakuRenderer::isDisplayLinkRunning() const { return m_displayLink->isRunning(); }

void KRDanmakuRenderer::startDisplayLinkIfNeeded()
{
    if (isDisplayLinkRunning() || !m_clockPlaying || !m_enabled || m_activeItems.empty() || !parentWidget())
        return;
    m_displayLink->setFrameInterval(m_frameInterval);
    m_displayLink->start();
}

void KRDanmakuRenderer::stopDisplayLink()
{
    m_displayLink->stop();
}

void KRDanmakuRenderer::displayLinkTick()
{
    if (!m_clockPlaying || !m_enabled || !parentWidget()) {
        stopDisplayLink();
        return;
    }
    updateFrames(m_clockPlaybackTime + std::max(mediaNow() - m_clockHostTime, 0.0));
    if (m_activeItems.empty())
        stopDisplayLink();
}

void KRDanmakuRenderer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    syncLayoutSize();
}

void KRDanmakuRenderer::syncLayoutSize()
{
    const QSizeF current(size());
    if (current == m_lastLayoutSize)
        return;
    m_lastLayoutSize = current;
    const double time = std::max(m_lastPlaybackTime, 0.0);
    ensureTrackCapacity(time);
    updateFrames(time);
}

bool KRDanmakuRenderer::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange && !parentWidget())
        stopDisplayLink();
    return QWidget::event(event);
}

void KRDanmakuRenderer::paintEvent(QPaintEvent*)
{
    if (m_activeItems.empty())
        return;
    QPainter painter(this);
    painter.setOpacity(m_opacity);
    for (const KRDanmakuDisplayItem& item : m_activeItems) {
        if (!item.hidden)
            painter.drawImage(item.frame.topLeft(), item.image);
    }
}
