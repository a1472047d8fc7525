#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ActionSheet.h"
#include "model/KRError.h"
#include "platform/uikit/TableViewController.h"
#include "shared/KRCommentCellDelegate.h"
#include "shared/KRCommentThreadTap.h"
#include "shared/KRDynamicComposerView.h"
#include "shared/KRDynamicComposerViewDelegate.h"
#include "shared/KRPhotoPickerViewController.h"
#include "social/KRDynamicCellDelegate.h"
#include "social/KRDynamicNotifications.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <optional>

class KRComment;
class KRDynamic;

namespace platform::uikit {
class Button;
class Label;
class TableViewCell;
class View;
} // namespace platform::uikit

// The screen "动态" for one dynamic: the dynamic unfolded on top, its comments below, paged only
// from the trailing state row, and a comment button docked above the tab bar. From it the user
// comments (with photos), replies, reposts, likes, opens pictures, threads, the video and the
// author, and uses the more sheet. A message may ask it to bring one comment, or one reply in a
// comment's thread, into view. Portrait only.
class KRDynamicDetailViewController : public platform::uikit::TableViewController,
                                      public KRDynamicCellDelegate,
                                      public KRCommentCellDelegate,
                                      public KRDynamicComposerViewDelegate,
                                      public KRPhotoPickerViewControllerDelegate,
                                      public platform::uikit::ActionSheetDelegate {
    Q_OBJECT

public:
    static constexpr int kMoreSheetTag = 8801;
    static constexpr qreal kDockHeight = 42;

    explicit KRDynamicDetailViewController(const QString& dynamicID, QObject* parent = nullptr);
    ~KRDynamicDetailViewController() override;

    void showCommentsAtRootRpid(qint64 root, qint64 target);
    void showCommentsAtRpid(qint64 rpid);

    qint64 commentOID() const;
    qint32 commentType() const;
    QString shareURLString() const;

    QString dynamicID() const { return m_dynamicID; }
    std::shared_ptr<KRDynamic> dynamic() const { return m_dynamic; }
    const QList<std::shared_ptr<KRComment>>& comments() const { return m_comments.list; }
    int commentPage() const { return m_comments.page; }
    bool isLoadingComments() const { return m_comments.loading; }
    bool commentsHaveMore() const { return m_comments.hasMore; }
    QString commentsErrorText() const { return m_comments.errorText; }
    platform::uikit::Label* stateLabel() const { return m_stateLabel; }
    platform::uikit::View* composerDock() const { return m_composerDock.data(); }
    platform::uikit::Button* composerButton() const { return m_composerButton; }
    KRDynamicComposerView* composer() const { return m_composer.data(); }
    // 0 none, 1 comment or reply, 2 repost.
    int pendingAction() const { return m_compose.action; }
    qint64 replyRoot() const { return m_compose.replyRoot; }
    qint64 replyParent() const { return m_compose.replyParent; }
    int selectedImageCount() const { return int(m_compose.selectedItems.size()); }
    platform::uikit::ActionSheet* moreSheet() const { return m_moreSheet.data(); }
    bool isLikeInFlight() const { return m_likeInFlight; }

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    // Table.
    int numberOfSectionsInTableView(platform::uikit::TableView*) override;
    int numberOfRowsInSection(platform::uikit::TableView*, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    qreal heightForHeaderInSection(platform::uikit::TableView*, int section) override;
    platform::uikit::View* viewForHeaderInSection(platform::uikit::TableView*, int section) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;

    // The dynamic's row.
    void dynamicCellDidSelectVideo(KRDynamicCell*) override;
    void dynamicCellDidSelectAuthor(KRDynamicCell*) override;
    void dynamicCellDidSelectBody(KRDynamicCell*) override;
    void dynamicCellDidSelectOriginal(KRDynamicCell*) override;
    void dynamicCellDidSelectLike(KRDynamicCell*) override;
    void dynamicCellDidSelectComment(KRDynamicCell*) override;
    void dynamicCellDidSelectRepost(KRDynamicCell*) override;
    bool dynamicCellDidSelectPictureAtIndex(KRDynamicCell*, unsigned index) override;

    // Comment rows.
    void commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls) override;
    void commentCellDidTapThread(KRCommentCell*) override;

    // Composer and photos.
    void dynamicComposerViewDidCancel(KRDynamicComposerView*) override;
    void dynamicComposerViewDidSubmitText(KRDynamicComposerView*, const QString& text) override;
    void dynamicComposerViewDidRequestImage(KRDynamicComposerView*) override;
    void photoPickerViewControllerDidCancel(KRPhotoPickerViewController*) override;
    void photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController*, const QList<KRPhotoPickerItem>&) override;

    // The more sheet.
    void shareTapped();
    void actionSheetClickedButtonAtIndex(platform::uikit::ActionSheet*, int buttonIndex) override;
    void actionSheetDidDismissWithButtonIndex(platform::uikit::ActionSheet*, int buttonIndex) override;

    void presentCommentComposerForComment(const std::shared_ptr<KRComment>& comment);
    void showRepostComposer();

    // The "image_url", else "img_src", else "url" of each record, non-empty ones only.
    static QStringList pictureURLsFromUploadInfos(const QVariantList& infos);

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidLayoutSubviews() override;
    void viewWillDisappear(bool animated) override;

private:
    // The listed comments and their paging through the state row.
    struct Comments {
        QList<std::shared_ptr<KRComment>> list;
        int page = 0;
        bool loading = false;
        bool hasMore = true;
        QString errorText;
    };
    // The open composer's purpose and what it has picked.
    struct Compose {
        int action = 0;
        qint64 replyRoot = 0;
        qint64 replyParent = 0;
        QList<KRPhotoPickerItem> selectedItems;
        bool submitting = false;
    };
    // A message's wish to see one comment, or one reply in its thread.
    struct Focus {
        qint64 commentRpid = 0;
        qint64 replyRpid = 0;
        bool loading = false;
        std::shared_ptr<KRComment> object;
    };

    void applyTheme();
    void themeStateLabel();
    void themeDidChange();
    void sessionDidChange();
    void updateComposerButtonTitle();
    void loadDynamic();
    void dynamicDidLoad(const QVariant& data, const KROptionalError& error);
    void showStateText(const QString& text);
    QObject* accountRequests();

    // Dock (KRDynamicDetailComposer.cpp).
    platform::uikit::View* commentComposerHostView();
    void attachCommentComposerDock();
    void layoutCommentComposerDock();
    void setCommentComposerDockHidden(bool hidden);
    void commentComposerButtonTapped();
    void prepareForImageViewer();
    void presentPhotoPicker();
    QList<QImage> selectedImages() const;
    void dropPickedPhotos();
    void restoreComposerAfterFailure();
    void postComment(const QString& text, qint64 root, qint64 parent, const QList<QImage>& images);
    void repost(const QString& text, const QVariantList& pictureInfos);
    void finishComposing();
    void postCommentCount();

    // Comments (KRDynamicDetailViewController.cpp).
    void loadCommentsReset(bool reset);
    platform::uikit::TableViewCell* commentStateCellForTableView(platform::uikit::TableView*);
    void openFocusedCommentThreadIfPossible();
    void applyFocusedRootCommentIfPossible();
    void clearFocusedRootCommentHighlight();
    platform::uikit::TableViewCell* dynamicRowCell(platform::uikit::TableView*);
    void reconfigureDynamicRow(const std::shared_ptr<KRDynamic>& dynamic);

    // More sheet (KRDynamicDetailShare.cpp).
    platform::uikit::View* actionSheetHostView();
    void performDeferredShareAction();
    void dropMoreSheet();
    void copyLinkWithMessage(const QString& link, const QString& message);
    void pushPictureViewer(const QStringList& urls, unsigned index);

    QString m_dynamicID;
    std::shared_ptr<KRDynamic> m_dynamic;
    platform::uikit::Label* m_stateLabel = nullptr;
    Comments m_comments;
    Compose m_compose;
    Focus m_focus;
    // Views placed outside the screen's own view are still the screen's: deleted with it.
    QPointer<platform::uikit::View> m_composerDock;
    platform::uikit::View* m_composerSeparator = nullptr;
    platform::uikit::Button* m_composerButton = nullptr;
    QPointer<KRDynamicComposerView> m_composer;
    QPointer<platform::uikit::ActionSheet> m_moreSheet;
    int m_pendingShareAction = 0;
    bool m_likeInFlight = false;
    platform::DelayedCalls m_delayed;
    KRCommentThreadTap m_threadTap;
    // The account the dynamic was loaded for (none when signed out), and the owner of every
    // request asked for it: when another account (or none) signs in, the owner goes with every
    // answer still on its way, and the screen loads again as the new account sees it.
    std::optional<qint64> m_loadedAccount;
    QPointer<QObject> m_accountRequests;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_sessionObserver;
};
