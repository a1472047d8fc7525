#pragma once

#include "platform/uikit/ScrollViewDelegate.h"

#include <QObject>
#include <QPointer>
#include <QRectF>

#include <functional>

namespace platform::uikit {
class ScrollView;
class SegmentedControl;
class View;
}

// The video page's tab row and pager: the "简介"/"评论" segment in the row under the player,
// and the two-page pager below it holding the information page and the comments page. A tap
// on a segment or a swipe of the pager shows that page; either way the owner hears which one.
class KRVideoDetailTabs : public QObject, public platform::uikit::ScrollViewDelegate {
    Q_OBJECT
public:
    struct Actions {
        // The page now showing, 0 for the information, 1 for the comments.
        std::function<void(int page)> pageShown;
    };
    explicit KRVideoDetailTabs(Actions actions, QObject* parent = nullptr);
    ~KRVideoDetailTabs() override;

    // The row, not yet on screen: the player area puts its danmaku entry in it first.
    platform::uikit::View* makeTabBar(qreal width);
    // The row and the pager on the root view, the segment under whatever the row already holds.
    void build(platform::uikit::View* root, qreal width, qreal height);
    // The row under a player of that height, the pager filling what is left below it.
    void layout(qreal width, qreal height, qreal playerHeight);
    void applyTheme();
    bool isBuilt() const;

    platform::uikit::View* tabBar() const;
    // How wide the segment is in the row: the row's other entries sit beside it.
    qreal segmentWidth() const;
    platform::uikit::ScrollView* infoScrollView() const;
    platform::uikit::View* commentsView() const;

    int selectedPage() const { return m_selectedPage; }
    // Shows that page (anything but 1 is the information page); before the views exist it
    // only remembers the choice.
    void setSelectedPage(int page, bool animated);

    void scrollViewDidEndDecelerating(platform::uikit::ScrollView* scrollView) override;
    void scrollViewDidEndDragging(platform::uikit::ScrollView* scrollView, bool willDecelerate) override;

private:
    void showPage(int page);

    Actions m_actions;
    // The views go with the root view, which may go first.
    QPointer<platform::uikit::View> m_tabBar;
    QPointer<platform::uikit::SegmentedControl> m_segment;
    QPointer<platform::uikit::ScrollView> m_pager;
    QPointer<platform::uikit::ScrollView> m_infoScrollView;
    QPointer<platform::uikit::View> m_commentsView;
    int m_selectedPage = 0;
};
