#include "video/KRVideoDanmakuComposer.h"

#include "account/KRAccountClient.h"
#include "look/KRTheme.h"
#include "model/KRDanmaku.h"
#include "model/KRTolerantValue.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Toolbar.h"
#include "platform/uikit/View.h"
#include "store/KRSessionStore.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace platform::uikit;

namespace {

// What the service draws a new danmaku as: scrolling, 25 points, white.
constexpr qint32 kScrollingMode = 1;
constexpr double kFontSize = 25;
constexpr quint32 kWhite = 0xFFFFFF;

} // namespace

KRVideoDanmakuComposer::KRVideoDanmakuComposer(Actions actions, QObject* parent)
    : QObject(parent)
    , m_actions(std::move(actions))
{
}

KRVideoDanmakuComposer::~KRVideoDanmakuComposer() = default;

void KRVideoDanmakuComposer::build(View* root, qreal width)
{
    m_root = root;
    m_barFrame = QRectF(0, 217, width, 42);
}

// The bar shows only while a line is written: most pages are opened and left without it.
bool KRVideoDanmakuComposer::buildBar()
{
    if (m_barAlive)
        return true;
    if (!m_root || m_bar)
        return false;
    m_bar = new View(m_barFrame, m_root);
    m_bar->setObjectName(QStringLiteral("danmakuComposerBar"));
    m_barAlive = m_bar;
    m_bar->setAutoresizingMask(AutoresizingFlexibleWidth);
    m_bar->setHidden(true);
    m_separator = new View(QRectF(0, 41, m_barFrame.width(), 1), m_bar);
    m_separator->setObjectName(QStringLiteral("danmakuComposerSeparator"));
    applyBarTheme();
    return true;
}

void KRVideoDanmakuComposer::buildField()
{
    if (m_inputField || !buildBar())
        return;
    const qreal width = m_bar->bounds().width();
    m_inputField = new TextField(QRectF(8, 5, std::max<qreal>(width - 16, 80), 32), m_bar);
    m_inputField->setObjectName(QStringLiteral("danmakuInputField"));
    m_inputField->setFont(Label::systemFont(12));
    m_inputField->setReturnKeyType(ReturnKeySend);
    m_inputField->setClearsWhileEditing(true);
    // A danmaku is a few words of chat: nothing corrects or capitalises them.
    m_inputField->setAutocorrectionType(TextAutocorrectionTypeNo);
    m_inputField->setAutocapitalizationType(TextAutocapitalizationTypeNone);
    m_inputField->setLeftView(new View(QRectF(0, 0, 8, 1)));
    m_inputField->addTarget(ControlEventEditingChanged, [this] { danmakuInputChanged(m_inputField); });
    m_inputField->addTarget(ControlEventEditingDidBegin, [this] { textFieldDidBeginEditing(m_inputField); });
    m_inputField->shouldReturn = [this] {
        sendDanmakuTapped();
        return false;
    };
    m_accessory = new Toolbar(QRectF(0, 0, width, 44));
    m_accessory->setObjectName(QStringLiteral("danmakuInputAccessory"));
    m_accessory->setItems(
        {new BarButtonItem(QStringLiteral("取消"), BarButtonItemStyleBordered, [this] { cancelDanmakuComposer(); }, m_accessory),
         BarButtonItem::systemItem(BarButtonSystemItemFlexibleSpace, {}, m_accessory),
         new BarButtonItem(QStringLiteral("发送"), BarButtonItemStyleDone, [this] { sendDanmakuTapped(); }, m_accessory)});
    m_inputField->setInputAccessoryView(m_accessory);
    applyFieldState();
    applyFieldTheme();
}

void KRVideoDanmakuComposer::layout(qreal width, qreal restingY)
{
    const bool lifted = m_keyboardY && m_activeField && m_activeField == m_inputField;
    m_barFrame = QRectF(0, lifted ? *m_keyboardY : restingY, width, 42);
    if (!m_barAlive)
        return;
    m_bar->setFrame(m_barFrame);
    m_separator->setFrame(QRectF(0, 41, width, 1));
    if (m_inputField)
        m_inputField->setFrame(QRectF(8, 5, std::max<qreal>(width - 16, 80), 32));
}

void KRVideoDanmakuComposer::applyTheme()
{
    applyBarTheme();
    applyFieldTheme();
}

void KRVideoDanmakuComposer::applyBarTheme()
{
    if (!m_barAlive)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    m_bar->setBackgroundColor(theme->surfaceColor());
    m_separator->setBackgroundColor(theme->separatorColor());
}

void KRVideoDanmakuComposer::applyFieldTheme()
{
    if (!m_inputField)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    m_inputField->setBackground(theme->searchFieldBackgroundImage());
    m_inputField->setTextColor(theme->primaryTextColor());
    m_accessory->setBarStyle(theme->style() == 1 ? BarStyleBlack : BarStyleDefault);
}

void KRVideoDanmakuComposer::setDanmakuEnabled(bool enabled)
{
    m_danmakuEnabled = enabled;
    applyFieldState();
}

void KRVideoDanmakuComposer::applyFieldState()
{
    if (!m_inputField)
        return;
    m_inputField->setEnabled(m_danmakuEnabled);
    m_inputField->setPlaceholder(m_danmakuEnabled ? QStringLiteral("登录后发弹幕") : QStringLiteral("已关弹幕"));
}

// ---- editing ----

void KRVideoDanmakuComposer::embeddedAddDanmakuTapped(bool danmakuEnabled)
{
    if (!danmakuEnabled || !buildBar())
        return;
    buildField();
    m_bar->setHidden(false);
    m_inputField->setText(m_draft);
    m_root->bringSubviewToFront(m_bar);
    if (m_inputField->isFirstResponder())
        textFieldDidBeginEditing(m_inputField);
    else
        m_inputField->becomeFirstResponder();
}

void KRVideoDanmakuComposer::textFieldDidBeginEditing(TextField* field)
{
    if (!field)
        return;
    m_activeField = field;
    if (field->text() != m_draft)
        field->setText(m_draft);
    // The line is written against the picture it is about: playback waits for the composer.
    if (!m_pausedForComposer && m_actions.isPlaying && m_actions.isPlaying()) {
        m_pausedForComposer = true;
        if (m_actions.pause)
            m_actions.pause();
    }
    if (m_actions.controlsChanged)
        m_actions.controlsChanged();
}

void KRVideoDanmakuComposer::danmakuInputChanged(TextField* field)
{
    if (field)
        m_draft = field->text();
}

void KRVideoDanmakuComposer::cancelDanmakuComposer()
{
    closeComposer();
    resumeAfterDanmakuComposerIfNeeded();
}

void KRVideoDanmakuComposer::closeComposer()
{
    // The field editing may be a full screen's, opened before the embedded bar ever was.
    TextField* field = m_activeField;
    m_activeField = nullptr;
    if (field && field->isFirstResponder())
        field->resignFirstResponder();
    if (m_inputField && m_inputField->isFirstResponder())
        m_inputField->resignFirstResponder();
    if (!m_barAlive)
        return;
    m_bar->setHidden(true);
    if (m_actions.controlsChanged)
        m_actions.controlsChanged();
}

void KRVideoDanmakuComposer::resumeAfterDanmakuComposerIfNeeded()
{
    if (!m_pausedForComposer)
        return;
    m_pausedForComposer = false;
    if (m_actions.resume)
        m_actions.resume();
}

bool KRVideoDanmakuComposer::playTappedWhilePaused()
{
    // The user's play outranks the composer's pause: it ends here, and closing the composer
    // later leaves playback as the user left it.
    if (!m_pausedForComposer)
        return false;
    resumeAfterDanmakuComposerIfNeeded();
    return true;
}

// ---- sending ----

void KRVideoDanmakuComposer::sendDanmakuTapped()
{
    if (TextField* field = m_activeField ? m_activeField.data() : m_inputField)
        danmakuInputChanged(field);
    const QString text = m_draft.trimmed();
    if (text.isEmpty() || m_sending)
        return;
    if (!KRSessionStore::sharedStore().isLoggedIn()) {
        // Kept for later: the draft stays, the keyboard goes, and the user is told why.
        if (TextField* field = m_activeField)
            field->resignFirstResponder();
        showLoginAlert();
        return;
    }
    const double time = std::max(0.0, m_actions.playbackTime ? m_actions.playbackTime() : 0.0);
    const qint32 progress = qint32(std::min(std::llround(time * 1000), qint64(std::numeric_limits<qint32>::max())));
    m_sending = true;
    KRAccountClient::sharedClient()->postDanmaku(
        text, m_actions.cid ? m_actions.cid() : 0, m_actions.aid ? m_actions.aid() : 0, progress, this,
        [this, text, time](bool success, const QString& message, const QVariant& data) {
            m_sending = false;
            // A window torn down before the answer took the page's views with it. The bar may
            // never have been made: a full screen's field sends without it.
            if (!m_root)
                return;
            if (!success) {
                if (m_actions.showStatus)
                    m_actions.showStatus(message.isEmpty() ? QStringLiteral("弹幕发送失败") : message);
                return;
            }
            auto danmaku = std::make_shared<KRDanmaku>();
            danmaku->setTime(time);
            danmaku->setMode(kScrollingMode);
            danmaku->setFontSize(kFontSize);
            danmaku->setColorRGB(kWhite);
            danmaku->setSentAt(double(QDateTime::currentSecsSinceEpoch()));
            danmaku->setDanmakuID(KRLongLong(data.toMap().value(QStringLiteral("dmid"))));
            danmaku->setText(text);
            if (m_actions.display)
                m_actions.display(danmaku, std::max(0.0, m_actions.playbackTime ? m_actions.playbackTime() : time));
            m_draft.clear();
            if (m_barAlive && m_inputField)
                m_inputField->setText({});
            if (TextField* field = m_activeField)
                field->setText({});
            if (m_actions.showStatus)
                m_actions.showStatus(QStringLiteral("弹幕已发送"));
            cancelDanmakuComposer();
        });
}

void KRVideoDanmakuComposer::showLoginAlert()
{
    // The answer is told the alert it came from, which lives until its callback returns.
    auto shown = std::make_shared<QPointer<AlertView>>();
    auto* alert = new AlertView(QStringLiteral("登录后才能发弹幕"),
                                QStringLiteral("当前为未登录只读状态，不会伪造发送成功。草稿已保留，登录后可从当前时间发送。"),
                                QStringLiteral("继续播放"), {QStringLiteral("前往“我的”")}, this, [this, shown](int index) {
                                    if (m_actions.loginAlertAnswered)
                                        m_actions.loginAlertAnswered(shown->data(), index);
                                });
    *shown = alert;
    alert->setTag(kLoginAlertTag);
    alert->show();
}
