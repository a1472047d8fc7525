#include "video/KRVideoFullscreenRail.h"

#include "platform/uikit/Button.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/View.h"
#include "video/KRVideoDetailSupport.h"
#include "video/KRVideoFullscreenSupport.h"

#include <QDebug>

using namespace platform::uikit;

namespace {

constexpr int kIconTag = 7951;
constexpr int kLabelTag = 7952;
constexpr int kSeparatorTag = 7960;
constexpr qreal kRowHeight = 49;

const char* const kTitles[] = {"稍后观看", "发弹幕", "弹幕", "调弹幕", "缓存"};
const char* const kNames[] = {"fullscreenWatchLaterButton", "fullscreenAddDanmakuButton", "fullscreenDanmakuButton",
                              "fullscreenDanmakuSettingsButton", "fullscreenCacheButton"};

Image white(const QString& name) { return KRDetailTintedImage(Image::named(name), QColor(Qt::white)); }

} // namespace

KRVideoFullscreenRail::KRVideoFullscreenRail(Actions actions)
    : m_actions(std::move(actions))
{
}

KRVideoFullscreenRail::~KRVideoFullscreenRail() { remove(); }

Button* KRVideoFullscreenRail::button(int index) const
{
    return index >= 0 && index < int(m_buttons.size()) ? m_buttons[index].data() : nullptr;
}

void KRVideoFullscreenRail::build(View* host, bool faded)
{
    remove();
    if (!host)
        return;
    auto* rail = new View(QRectF(0, 0, 54, kRowHeight * 5), host);
    rail->setObjectName(QStringLiteral("fullscreenRail"));
    rail->setAlpha(faded ? 0 : 1);
    rail->setHidden(true);
    rail->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    rail->setCornerRadius(8);
    auto* background = new ImageView(rail->bounds(), rail);
    background->setObjectName(QStringLiteral("fullscreenRailBackground"));
    background->setImage(Image::named(QStringLiteral("Tarnwick23/player_right_control_bg")).stretchable(12, 12));
    background->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    background->setUserInteractionEnabled(false);
    m_rail = rail;
    for (int i = 0; i < 5; ++i) {
        Button* b = fullscreenRailButtonWithTitle(i, QString::fromUtf8(kTitles[i]));
        b->setFrame(QRectF(0, kRowHeight * i, 54, kRowHeight));
        m_buttons[i] = b;
        if (i < 4) {
            auto* line = new ImageView(QRectF(4, kRowHeight * i + 48, 46, 1), rail);
            line->setImage(Image::named(QStringLiteral("Tarnwick23/player_right_control_splitter")));
            line->setTag(kSeparatorTag + i);
            line->setUserInteractionEnabled(false);
            if (i == 0)
                m_separator = line;
        }
    }
    m_geometryLogged = false;
}

Button* KRVideoFullscreenRail::fullscreenRailButtonWithTitle(int index, const QString& title)
{
    auto* b = new Button(ButtonTypeCustom, QRectF(), m_rail);
    b->setObjectName(QString::fromLatin1(kNames[index]));
    b->setAccessibilityLabel(title);
    b->setShowsTouchWhenHighlighted(true);
    auto* icon = new ImageView(QRectF(13, 3, 28, 28), b);
    icon->setTag(kIconTag);
    icon->setContentMode(ContentModeScaleAspectFit);
    icon->setUserInteractionEnabled(false);
    if (index == WatchLater)
        icon->setFrame(icon->frame().translated(1, 0.5));
    auto* label = new Label(QRectF(1, 31, 52, 16), b);
    label->setTag(kLabelTag);
    label->setBackgroundColor(QBrush(Qt::NoBrush));
    label->setTextColor(Qt::white);
    label->setFont(Label::systemFont(8.5, true));
    label->setTextAlignment(TextAlignmentCenter);
    label->setShadowColor(QColor::fromRgbF(0, 0, 0, 0.72));
    label->setShadowOffset(QSizeF(0, -1));
    label->setUserInteractionEnabled(false);
    label->setText(title);
    b->addTarget(ControlEventTouchUpInside, [this, index] {
        if (m_actions[index])
            m_actions[index]();
    });
    return b;
}

void KRVideoFullscreenRail::remove()
{
    delete m_rail.data();
    m_rail = nullptr;
    m_buttons.fill(nullptr);
    m_separator = nullptr;
}

void KRVideoFullscreenRail::layout(const QSizeF& host, const EdgeInsets& insets)
{
    if (!m_rail)
        return;
    const KRFullscreenRailGeometry g = KRFullscreenRailGeometryForHost(host, insets);
    m_rail->setFrame(g.rail);
    if (m_buttons[DanmakuSettings])
        m_buttons[DanmakuSettings]->setHidden(false);
    for (int i = 0; i < 5; ++i) {
        Button* b = m_buttons[i];
        // The rows stop at the first missing button.
        if (!b)
            break;
        b->setFrame(KRFullscreenRailButtonFrame(g, i));
        if (View* icon = b->viewWithTag(kIconTag))
            icon->setFrame(KRFullscreenRailIconFrame(g, i));
        if (View* label = b->viewWithTag(kLabelTag))
            label->setFrame(KRFullscreenRailLabelFrame(g, i));
        if (i < 4) {
            if (View* line = m_rail->viewWithTag(kSeparatorTag + i)) {
                line->setFrame(KRFullscreenRailSeparatorFrame(g, i));
                line->setHidden(false);
            }
        }
    }
    if (!m_geometryLogged) {
        m_geometryLogged = true;
        qInfo().noquote() << QStringLiteral("[KorvaneFullscreenGeometry] orientation=%1 compact35=%2 host=%3 rail=%4 row=%5")
                                 .arg(g.landscape ? QStringLiteral("landscape") : QStringLiteral("portrait"),
                                      g.compact ? QStringLiteral("YES") : QStringLiteral("NO"),
                                      StringFromRect(QRectF(QPointF(), host)), StringFromRect(g.rail))
                                 .arg(g.rowHeight, 0, 'f', 1);
    }
}

void KRVideoFullscreenRail::setShown(bool shown)
{
    if (m_rail && m_rail->isHidden() == shown)
        m_rail->setHidden(!shown);
}

bool KRVideoFullscreenRail::isShown() const { return m_rail && !m_rail->isHidden(); }

void KRVideoFullscreenRail::applyImages(bool danmakuEnabled)
{
    KRSetFullscreenRailImage(m_buttons[WatchLater], white(QStringLiteral("Davirivu961/feature_watch_later")));
    KRSetFullscreenRailImage(m_buttons[AddDanmaku], Image::named(QStringLiteral("Tarnwick23/icon_add_danmaku")));
    KRSetFullscreenRailImage(m_buttons[Cache], white(QStringLiteral("Davirivu961/feature_cache")));
    KRSetFullscreenRailImage(m_buttons[Danmaku], Image::named(danmakuEnabled ? QStringLiteral("Tarnwick23/btn_player_danmaku_selected")
                                                                             : QStringLiteral("Tarnwick23/btn_player_danmaku_normal")));
    KRSetFullscreenRailImage(m_buttons[DanmakuSettings], white(QStringLiteral("Davirivu961/danmaku_settings")));
    if (Button* danmaku = m_buttons[Danmaku])
        danmaku->setSelected(danmakuEnabled);
    if (Button* add = m_buttons[AddDanmaku]) {
        add->setEnabled(danmakuEnabled);
        add->setAlpha(danmakuEnabled ? 1.0 : 0.48);
    }
}

bool KRVideoFullscreenRail::contains(const View* view) const
{
    for (const QWidget* w = view; w; w = w->parentWidget()) {
        if (w == m_rail.data())
            return true;
    }
    return false;
}

bool KRVideoFullscreenRail::isBuilt() const { return !m_rail.isNull(); }

View* KRVideoFullscreenRail::view() const { return m_rail; }
