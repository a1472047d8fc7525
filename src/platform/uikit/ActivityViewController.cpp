#include "platform/uikit/ActivityViewController.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/View.h"

#include <QUrl>

namespace platform::uikit {

namespace {

QString itemText(const QVariant& item)
{
    if (item.typeId() == QMetaType::QUrl)
        return item.toUrl().toString(QUrl::FullyEncoded);
    return item.toString();
}

} // namespace

ActivityViewController::ActivityViewController(const QVariantList& activityItems, QObject* parent)
    : ViewController(parent)
    , m_items(activityItems)
{
}

bool ActivityViewController::isAvailable() { return platform::DeviceProfile::systemMajorVersion() >= 6; }

QString ActivityViewController::textForCopying() const
{
    for (const QVariant& item : m_items)
        if (item.typeId() == QMetaType::QUrl)
            return itemText(item);
    QStringList texts;
    for (const QVariant& item : m_items)
        if (!itemText(item).isEmpty())
            texts.append(itemText(item));
    return texts.join(QLatin1Char('\n'));
}

void ActivityViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    view()->setBackgroundColor(QColor(239, 239, 244));
    for (const QVariant& item : m_items) {
        auto* label = new Label(QRectF(), view());
        label->setObjectName(QStringLiteral("activityItemLabel"));
        label->setText(itemText(item));
        label->setFont(Label::systemFont(15));
        label->setTextColor(item.typeId() == QMetaType::QUrl ? QColor(0, 122, 255) : QColor(Qt::black));
        label->setNumberOfLines(3);
        m_itemLabels.append(label);
    }
    auto makeButton = [this](const QString& title, const QString& name) {
        auto* button = new Button(ButtonTypeCustom, QRectF(), view());
        button->setObjectName(name);
        button->setTitle(title, ControlStateNormal);
        button->setTitleColor(QColor(0, 122, 255), ControlStateNormal);
        button->setTitleColor(QColor(0, 122, 255, 110), ControlStateHighlighted);
        button->setBackgroundColor(QColor(Qt::white));
        button->setCornerRadius(12);
        return button;
    };
    m_copyButton = makeButton(QStringLiteral("拷贝"), QStringLiteral("copyButton"));
    m_closeButton = makeButton(QStringLiteral("取消"), QStringLiteral("closeButton"));
    m_closeButton->titleLabel()->setFont(Label::systemFont(20, true));
    m_copyButton->addTarget(ControlEventTouchUpInside, [this] {
        Pasteboard::general().setString(textForCopying());
        dismissViewControllerAnimated(true);
    });
    m_closeButton->addTarget(ControlEventTouchUpInside, [this] { dismissViewControllerAnimated(true); });
}

void ActivityViewController::viewDidLayoutSubviews()
{
    ViewController::viewDidLayoutSubviews();
    const QSizeF size = view()->bounds().size();
    const qreal width = size.width() - 32;
    qreal y = 40;
    for (Label* label : m_itemLabels) {
        const qreal height = label->sizeThatFits(QSizeF(width, 0)).height();
        label->setFrame(QRectF(16, y, width, height));
        y += height + 12;
    }
    m_closeButton->setFrame(QRectF(8, size.height() - 8 - 57, size.width() - 16, 57));
    m_copyButton->setFrame(QRectF(8, size.height() - 16 - 2 * 57, size.width() - 16, 57));
}

} // namespace platform::uikit
