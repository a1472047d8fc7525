#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableViewController.h"
#include "social/KRMessageCell.h"
#include "social/KRMessageJump.h"

#include "model/KRError.h"

#include <QPointer>
#include <QSet>
#include <QVariantList>

#include <optional>

namespace platform::uikit {
class ActivityIndicatorView;
class Label;
class SegmentedControl;
}

// The signed-in user's inbox: replies to the user and mentions of the user, each paged by the
// server's cursor, one row per message; a tap opens the video or dynamic the message is about,
// at its comment thread.
class KRMessageViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    // `tableStyle` 0 is the plain list the inbox shows.
    explicit KRMessageViewController(int tableStyle = 0, QObject* parent = nullptr);
    ~KRMessageViewController() override;

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    int numberOfRowsInSection(platform::uikit::TableView*, int) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override { return 82; }
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    void scrollViewDidScroll(platform::uikit::ScrollView*) override;

    void segmentChanged();
    void reloadMessages();
    void loadNextPage();

    // What the screen shows, for tests and the gallery.
    platform::uikit::SegmentedControl* segment() const { return m_segment; }
    platform::uikit::Label* stateLabel() const { return m_stateLabel; }
    const QVariantList& messages() const { return m_messages; }
    qint64 cursor() const { return m_cursor; }
    bool isLoading() const { return m_loading; }
    bool hasMore() const { return m_hasMore; }

protected:
    void viewDidLoad() override;

private:
    void applyTheme();
    void showState(const QString& text, bool asBackground);
    void receivePage(const QVariant& result, const KROptionalError& error, qint64 askedCursor);
    void openJump(const KRMessageJump& jump);
    void sessionDidChange();

    platform::uikit::SegmentedControl* m_segment = nullptr;
    QVariantList m_messages;
    QSet<QString> m_messageIdentities;
    qint64 m_cursor = 0;
    bool m_loading = false;
    bool m_hasMore = true;
    // A page answer is for the feed and start it was asked for; a segment change or a reload
    // while it is on its way makes it stale.
    quint64 m_pageGeneration = 0;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    QPointer<platform::uikit::Label> m_stateLabel;
    // The account the list was loaded for (none when signed out). A session change that leaves
    // it as it was (cookies refreshed by an answer) keeps the list; any other one reloads it, so a
    // signed-out inbox never shows the account's messages.
    std::optional<qint64> m_listAccount;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_sessionObserver;
};
