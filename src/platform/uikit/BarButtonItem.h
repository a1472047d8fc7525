#pragma once

#include "platform/uikit/Image.h"
#include "platform/uikit/TextAttributes.h"

#include <QMap>
#include <QObject>
#include <QPointer>

#include <functional>

namespace platform::uikit {

class View;

enum BarButtonItemStyle { BarButtonItemStylePlain = 0, BarButtonItemStyleBordered = 1, BarButtonItemStyleDone = 2 };
// Flexible space shares a toolbar's free width with the other flexible spaces; fixed space
// takes the item's width. Neither shows anything.
enum BarButtonSystemItem {
    BarButtonSystemItemDone = 0,
    BarButtonSystemItemCancel = 1,
    BarButtonSystemItemFlexibleSpace = 5,
    BarButtonSystemItemFixedSpace = 6,
    BarButtonSystemItemRefresh = 13
};

// An item of a navigation bar: a title, a system item or a custom view, and an action. The
// bar shows it as a kit Button (or the custom view).
class BarButtonItem : public QObject {
    Q_OBJECT
public:
    explicit BarButtonItem(const QString& title = {}, int style = BarButtonItemStylePlain,
                           std::function<void()> action = {}, QObject* parent = nullptr);
    // A system item (refresh 13 draws the refresh arrow).
    static BarButtonItem* systemItem(int systemItem, std::function<void()> action, QObject* parent = nullptr);
    // An item showing `view` (the item owns it until a bar shows it).
    static BarButtonItem* withCustomView(View* view, QObject* parent = nullptr);
    // Attributes every item in a navigation bar starts from (the platform's appearance proxy).
    static BarButtonItem* appearanceInNavigationBar();

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    int style() const { return m_style; }
    void setStyle(int style);
    int systemItemKind() const { return m_systemItem; }
    View* customView() const { return m_customView; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    qreal width() const { return m_width; }
    void setWidth(qreal width);
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    std::function<void()> action() const { return m_action; }
    void setAction(std::function<void()> action) { m_action = std::move(action); }
    void trigger() const;

    TextAttributes titleTextAttributes(int state) const { return m_titleAttributes.value(state); }
    void setTitleTextAttributes(const TextAttributes& attributes, int state);
    Image backgroundImage(int state) const { return m_backgrounds.value(state); }
    void setBackgroundImage(const Image& image, int state);
    Image backButtonBackgroundImage(int state) const { return m_backBackgrounds.value(state); }
    void setBackButtonBackgroundImage(const Image& image, int state);
    QPointF titlePositionAdjustment() const { return m_titleAdjustment; }
    void setTitlePositionAdjustment(const QPointF& offset);
    QPointF backButtonTitlePositionAdjustment() const { return m_backTitleAdjustment; }
    void setBackButtonTitlePositionAdjustment(const QPointF& offset);

Q_SIGNALS:
    void changed();

private:
    QString m_title;
    int m_style;
    int m_systemItem = -1;
    QPointer<View> m_customView;
    bool m_enabled = true;
    qreal m_width = 0;
    int m_tag = 0;
    std::function<void()> m_action;
    QMap<int, TextAttributes> m_titleAttributes;
    QMap<int, Image> m_backgrounds;
    QMap<int, Image> m_backBackgrounds;
    QPointF m_titleAdjustment;
    QPointF m_backTitleAdjustment;
};

} // namespace platform::uikit
