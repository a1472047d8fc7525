#pragma once

#include "platform/uikit/View.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

namespace platform::uikit {
class Button;
class Label;
}

// What both offline pickers of the video page are drawn in: it covers the page's view with a
// dimmed backdrop (a tap on it cancels) and holds a panel in the middle with a title, the
// picker's own content and a row of buttons at the bottom. It lies in the window's root view
// over the page's place, so that it is above the player's surface too (which playback moves
// there); without a window it lies in the covered view itself. The page lays it out again
// with its view; a theme change paints it anew.
class KRVideoOfflinePickerOverlay : public platform::uikit::View {
    Q_OBJECT
public:
    KRVideoOfflinePickerOverlay(platform::uikit::View* covered, const QString& name, std::function<void()> cancelled);

    platform::uikit::View* panel() const { return m_panel; }
    platform::uikit::Label* titleLabel() const { return m_title; }
    // A button of the bottom row, which shares the row's width with the others.
    platform::uikit::Button* addFooterButton(const QString& title, const QString& name, std::function<void()> action);
    const QList<platform::uikit::Button*>& footerButtons() const { return m_footer; }

    // Covers the covered view and places the panel for content of that height (less when the
    // view is short); answers the content's rectangle in the panel.
    QRectF layoutForContentHeight(qreal contentHeight);
    virtual void applyTheme();

    static constexpr qreal kTitleHeight = 46;
    static constexpr qreal kFooterHeight = 50;
    static constexpr qreal kMaximumPanelWidth = 420;

private:
    QPointer<platform::uikit::View> m_covered;
    platform::uikit::Button* m_backdrop = nullptr;
    platform::uikit::View* m_panel = nullptr;
    platform::uikit::Label* m_title = nullptr;
    platform::uikit::View* m_footerLine = nullptr;
    QList<platform::uikit::Button*> m_footer;
};
