#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ViewController.h"

#include <memory>

class KRVideo;

namespace platform::uikit {
class Label;
}

// The video page as far as this version goes: titled with the video's title, it hides the tab
// bar like the full page will and says in one line that the page itself comes later, so every
// list can already push it.
class KRVideoDetailViewController : public platform::uikit::ViewController {
    Q_OBJECT
public:
    explicit KRVideoDetailViewController(std::shared_ptr<KRVideo> video, QObject* parent = nullptr);
    ~KRVideoDetailViewController() override;

    std::shared_ptr<KRVideo> video() const { return m_video; }
    platform::uikit::Label* noticeLabel() const { return m_noticeLabel; }

    // Entry requests, kept until the page shows its comments.
    void showCommentsWhenPresented();
    void showCommentsWhenPresentedAtRootRpid(qint64 root, qint64 target);
    void showCommentsWhenPresentedAtRpid(qint64 rpid);
    bool showsCommentsWhenPresented() const { return m_showCommentsWhenPresented; }
    qint64 focusedCommentRpid() const { return m_focusedCommentRpid; }
    qint64 focusedReplyRpid() const { return m_focusedReplyRpid; }

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;

private:
    void applyTheme();

    std::shared_ptr<KRVideo> m_video;
    platform::uikit::Label* m_noticeLabel = nullptr;
    bool m_showCommentsWhenPresented = false;
    qint64 m_focusedCommentRpid = 0;
    qint64 m_focusedReplyRpid = 0;
    platform::ObserverToken m_themeObserver;
};
