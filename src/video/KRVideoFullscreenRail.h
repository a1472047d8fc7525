#pragma once

#include "platform/uikit/Geometry.h"

#include <QPointer>
#include <QString>

#include <array>
#include <functional>

namespace platform::uikit {
class Button;
class ImageView;
class View;
}

// The right-hand rail of the full screen: a rounded panel of five buttons (稍后观看, 发弹幕,
// 弹幕, 调弹幕, 缓存), each an icon (tag 7951) over a title (tag 7952), with a separator line
// under the first four (tags 7960 to 7963). It lies over the picture while the controls show
// and the danmaku composer does not.
class KRVideoFullscreenRail {
public:
    enum Index { WatchLater = 0, AddDanmaku = 1, Danmaku = 2, DanmakuSettings = 3, Cache = 4 };
    // What each button does, by index.
    using Actions = std::array<std::function<void()>, 5>;
    explicit KRVideoFullscreenRail(Actions actions);
    ~KRVideoFullscreenRail();
    KRVideoFullscreenRail(const KRVideoFullscreenRail&) = delete;
    KRVideoFullscreenRail& operator=(const KRVideoFullscreenRail&) = delete;

    // Made hidden in `host`, at alpha 0 while the chrome is faded out for a rotation.
    void build(platform::uikit::View* host, bool faded);
    void remove();
    bool isBuilt() const;
    platform::uikit::View* view() const;
    platform::uikit::Button* button(int index) const;

    // Laid out for its host's bounds and safe insets; the geometry line is logged once per build.
    void layout(const QSizeF& host, const platform::uikit::EdgeInsets& insets);
    void setShown(bool shown);
    bool isShown() const;
    // The icons (the danmaku switch following `danmakuEnabled`), and the add button's state.
    void applyImages(bool danmakuEnabled);
    bool contains(const platform::uikit::View* view) const;

private:
    platform::uikit::Button* fullscreenRailButtonWithTitle(int index, const QString& title);

    Actions m_actions;
    QPointer<platform::uikit::View> m_rail;
    std::array<QPointer<platform::uikit::Button>, 5> m_buttons;
    QPointer<platform::uikit::View> m_separator;
    bool m_geometryLogged = false;
};
