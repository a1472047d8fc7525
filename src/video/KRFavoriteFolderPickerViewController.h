#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/TableViewController.h"

#include <QSet>
#include <QString>
#include <QVariantList>

#include <functional>
#include <optional>

namespace platform::uikit {
class ActivityIndicatorView;
class BarButtonItem;
class Label;
class TableViewCell;
class View;
}

// Where a signed-in user chooses which of their favourite folders hold one video: every folder
// with a tick on those holding it, any number ticked or unticked, a new public or private folder
// made (and ticked) on the spot, and on "完成" one update adding the video to the newly ticked
// folders and removing it from the unticked ones. The completion hears the outcome once, just
// before the screen pops itself; leaving by the back button, a failed save or a signed-out
// session leave it unheard. Portrait only.
class KRFavoriteFolderPickerViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    bool keepsPresenterPlayback() const override { return true; }
    // `favorited`: a folder is ticked after the last action; `message`: null when nothing had to
    // change, else what the save did.
    using Completion = std::function<void(bool favorited, const QString& message)>;
    // The create-folder alert's tag, so its answer is told from any other alert's.
    static constexpr int kCreateFolderAlertTag = 8241;

    KRFavoriteFolderPickerViewController(qint64 aid, const QString& videoTitle, Completion completion, QObject* parent = nullptr);
    ~KRFavoriteFolderPickerViewController() override;

    // A folder's media id: "id" when above 0, else "media_id" when at least 1; none otherwise
    // (and for anything that is not a dictionary).
    static std::optional<qint64> mediaIDForFolder(const QVariant& folder);

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    int numberOfSectionsInTableView(platform::uikit::TableView*) override { return 2; }
    int numberOfRowsInSection(platform::uikit::TableView*, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    QString titleForHeaderInSection(platform::uikit::TableView*, int section) override;
    platform::uikit::View* viewForFooterInSection(platform::uikit::TableView*, int section) override;
    qreal heightForFooterInSection(platform::uikit::TableView*, int section) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;

    void saveTapped();
    void showCreateFolderAlert();
    void createFolderWithTitle(const QString& title, bool isPrivate);
    void loadFolders();

    // What the screen shows, for tests and the gallery.
    platform::uikit::Label* stateLabel() const { return m_stateLabel; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }
    platform::uikit::BarButtonItem* saveButton() const { return m_saveButton; }
    const QVariantList& folders() const { return m_folders; }
    const QSet<qint64>& selectedMediaIDs() const { return m_selectedMediaIDs; }
    bool isLoading() const { return m_loading; }
    bool isSaving() const { return m_saving; }
    QString footerText() const;
    // Folders as the service's list would bring them, for the benchmark, which measures the
    // screen without the network.
    void showFoldersForTesting(const QVariantList& folders);

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    void applyTheme();
    void sessionDidChange();
    void setBusy(bool busy);
    void configureCell(platform::uikit::TableViewCell* cell, const platform::uikit::IndexPath& indexPath);
    void createAlertAnswered(int buttonIndex, const QString& typedTitle);
    void finish(bool favorited, const QString& message);
    void applyFolders(const QVariantList& folders);
    void showFailureAlert(const QString& title, const QString& message);

    qint64 m_aid;
    QString m_videoTitle;
    Completion m_completion;
    QVariantList m_folders;
    QSet<qint64> m_initialSelectedMediaIDs;
    QSet<qint64> m_selectedMediaIDs;
    std::optional<QSet<qint64>> m_mediaIDsBeforeCreate;
    QString m_pendingCreatedTitle;
    qint64 m_pendingCreatedMediaID = 0;
    platform::uikit::View* m_stateBackgroundView = nullptr;
    platform::uikit::Label* m_stateLabel = nullptr;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    platform::uikit::BarButtonItem* m_saveButton = nullptr;
    bool m_loading = false;
    bool m_saving = false;
    bool m_hasLoadedInitialState = false;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_sessionObserver;
};
