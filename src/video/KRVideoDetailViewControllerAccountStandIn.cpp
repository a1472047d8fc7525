// STAND-IN: replaced by main's login gate, account result and caching entry at the merge.
#include "video/KRVideoDetailViewController.h"

#include "platform/uikit/AlertView.h"

using namespace platform::uikit;

void KRVideoDetailViewController::showLoginGate(const QString& title, const QString& message)
{
    auto* alert = new AlertView(title, message, QStringLiteral("知道了"), {QStringLiteral("前往“我的”")}, this, [](int) {});
    alert->setTag(7200);
    alert->show();
}

void KRVideoDetailViewController::showAccountResult(const QString& text, bool success)
{
    showDanmakuStatus(text.isEmpty() ? (success ? QStringLiteral("操作成功") : QStringLiteral("操作失败，请稍后重试")) : text);
}

// STAND-IN: the caching entry comes with the caching part.
void KRVideoDetailViewController::fullscreenCacheTapped() {}
