#include "video/KRVideoOfflineQualityPicker.h"

#include "look/KRTheme.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"

using namespace platform::uikit;

KRVideoOfflineQualityPicker::KRVideoOfflineQualityPicker(View* host, const QString& title, const QStringList& options,
                                                         std::function<void(int)> chosen, std::function<void()> cancelled)
    : KRVideoOfflinePickerOverlay(host, QStringLiteral("offlineQualityPicker"), cancelled)
{
    titleLabel()->setText(title);
    for (int i = 0; i < options.size(); ++i) {
        auto* option = new Button(ButtonTypeCustom, QRectF(), panel());
        option->setObjectName(QStringLiteral("offlineQualityOption%1").arg(i));
        option->setTitle(options.at(i), ControlStateNormal);
        option->titleLabel()->setFont(Label::systemFont(16));
        option->addTarget(ControlEventTouchUpInside, [chosen, i] { chosen(i); });
        m_options.append(option);
        m_separators.append(new View(QRectF(), panel()));
    }
    addFooterButton(QStringLiteral("取消"), QStringLiteral("offlineQualityCancelButton"), std::move(cancelled));
    applyTheme();
    layoutInHost();
}

void KRVideoOfflineQualityPicker::layoutInHost()
{
    const QRectF content = layoutForContentHeight(kRowHeight * m_options.size());
    // A short host keeps every row: they share the room there is.
    const qreal row = m_options.isEmpty() ? 0 : std::min<qreal>(kRowHeight, content.height() / m_options.size());
    for (int i = 0; i < m_options.size(); ++i) {
        const qreal top = content.top() + row * i;
        m_separators.at(i)->setFrame(QRectF(12, top, std::max<qreal>(content.width() - 24, 0), 1));
        m_options.at(i)->setFrame(QRectF(0, top + 1, content.width(), row - 1));
    }
}

void KRVideoOfflineQualityPicker::applyTheme()
{
    KRVideoOfflinePickerOverlay::applyTheme();
    const KRTheme* theme = KRTheme::sharedTheme();
    for (Button* option : m_options)
        option->setTitleColor(theme->accentColor(), ControlStateNormal);
    for (View* separator : m_separators)
        separator->setBackgroundColor(theme->separatorColor());
}
