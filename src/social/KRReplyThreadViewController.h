#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/TableViewController.h"
#include "shared/KRCommentCellDelegate.h"
#include "shared/KRDynamicComposerView.h"

#include <QColor>
#include <QList>
#include <QPointer>

#include <memory>
#include <optional>

class KRComment;
class KRLoadMoreView;

namespace platform::uikit {
class Button;
class ScrollView;
class TextField;
class View;
} // namespace platform::uikit

// The reply thread: the root comment above all replies under it, loaded page by page; it may
// open focused on one reply, which it looks for across pages, moves to the top and highlights
// for a moment. Its own one-line reply bar floats at the bottom of the navigation view above
// the keyboard; tapping a comment makes it the reply target, and a posted reply goes on top at
// once. Portrait only.
class KRReplyThreadViewController : public platform::uikit::TableViewController, public KRCommentCellDelegate {
    Q_OBJECT

public:
    bool keepsPresenterPlayback() const override { return true; }
    explicit KRReplyThreadViewController(const std::shared_ptr<KRComment>& root, qint64 focusedReplyRpid = 0,
                                         QObject* parent = nullptr);
    ~KRReplyThreadViewController() override;

    int supportedInterfaceOrientations() override;

    std::shared_ptr<KRComment> rootComment() const { return m_rootComment; }
    const QList<std::shared_ptr<KRComment>>& replies() const { return m_paging.replies; }
    int totalCount() const { return m_paging.totalCount; }
    int loadedPage() const { return m_paging.page; }
    bool isLoading() const { return m_paging.loading; }
    KRLoadMoreView* loadMoreView() const { return m_loadMoreView; }
    std::shared_ptr<KRComment> replyTarget() const { return m_composer.target; }

    platform::uikit::View* replyComposerBar() const { return m_replyComposerBar; }
    platform::uikit::TextField* replyInputField() const { return m_replyInputField; }
    platform::uikit::Button* replyEmoteButton() const { return m_replyEmoteButton; }
    platform::uikit::Button* replyCancelButton() const { return m_replyCancelButton; }
    platform::uikit::View* replyEmotePanel() const { return m_replyEmotePanel; }
    platform::uikit::ScrollView* replyEmoteScrollView() const { return m_replyEmoteScrollView; }
    const QList<KREmotePanelItem>& replyEmotes() const { return m_composer.emotes; }

    // Table.
    int numberOfSectionsInTableView(platform::uikit::TableView*) override { return 2; }
    int numberOfRowsInSection(platform::uikit::TableView*, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    qreal heightForHeaderInSection(platform::uikit::TableView*, int) override { return 28; }
    platform::uikit::View* viewForHeaderInSection(platform::uikit::TableView*, int section) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    void scrollViewDidScroll(platform::uikit::ScrollView*) override;

    void commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    // Paging and the focused-reply search.
    struct Paging {
        QList<std::shared_ptr<KRComment>> replies;
        bool loading = false;
        bool hasMore = false;
        qint32 page = 0;
        qint32 totalCount = 0;
        qint64 focusedReplyRpid = 0;
        qint32 focusedReplySearchPages = 0;
    };
    // The reply bar: its target, the emotes, the keyboard and the closing steps.
    struct Composer {
        std::shared_ptr<KRComment> target;
        QList<KREmotePanelItem> emotes;
        bool loadingEmotes = false;
        bool postInFlight = false;
        // Counts the accounts that have written in the bar: a post's answer closes the bar and
        // empties it only while the account that sent it still writes there.
        quint64 writer = 0;
        bool keyboardVisible = false;
        qreal keyboardY = 0;
        bool cancelling = false;
    };

    void loadMoreTapped();
    void loadPage(qint32 page, bool reset);
    void applyFocusedReplyIfPossible();
    void clearFocusedReplyHighlight();
    void updateReplyCountHeader();
    void applyTheme();
    void themeDidChange();
    void sessionDidChange();

    // KRReplyThreadComposer.cpp
    void buildReplyComposer();
    void selectReplyTarget(const std::shared_ptr<KRComment>& target);
    QString replyTargetName() const;
    void replyComposerTapped();
    void showLoginAlert();
    void openProfileTab();
    void cancelReplyComposer();
    void beginReplyComposerCancellation();
    void finishReplyComposerCancellation();
    void scheduleReplyComposerFinish(int milliseconds);
    void endEditingEverywhere();
    void layoutReplyComposer();
    void replyKeyboardWillShow(const platform::Notification& notification);
    void replyKeyboardWillHide(const platform::Notification& notification);
    void animateReplyComposerLayout(double seconds);
    void loadReplyEmotesIfNeeded();
    void rebuildReplyEmotePanel();
    void replyEmoteTapped();
    void replyEmoteItemTapped(int tag);
    void hideReplyEmotePanel();
    void sendReplyComposer();
    void insertPostedReply(const std::shared_ptr<KRComment>& reply);
    void applyComposerTheme();
    void detachReplyComposer();

    std::shared_ptr<KRComment> m_rootComment;
    Paging m_paging;
    Composer m_composer;
    KRLoadMoreView* m_loadMoreView = nullptr;
    // Put into the navigation view while the screen shows; deleted with the screen.
    QPointer<platform::uikit::View> m_replyComposerBar;
    platform::uikit::View* m_replyComposerSeparator = nullptr;
    platform::uikit::TextField* m_replyInputField = nullptr;
    platform::uikit::Button* m_replyEmoteButton = nullptr;
    platform::uikit::Button* m_replyCancelButton = nullptr;
    QPointer<platform::uikit::View> m_replyEmotePanel;
    platform::uikit::ScrollView* m_replyEmoteScrollView = nullptr;
    // The account the reply bar writes for (none when signed out): a reply begun by one
    // account is never left open, or kept, for the next.
    std::optional<qint64> m_replyAccount;
    quint64 m_composerAnimation = 0;
    platform::DelayedCalls m_delayed;
    platform::ObserverToken m_keyboardShowObserver;
    platform::ObserverToken m_keyboardHideObserver;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_sessionObserver;
};

// The image with every opaque pixel painted in the colour; unchanged without either.
platform::uikit::Image KRReplyTintedImage(const platform::uikit::Image&, const std::optional<QColor>&);
