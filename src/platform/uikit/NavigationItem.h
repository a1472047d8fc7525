#pragma once

#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/View.h"

#include <QObject>
#include <QPointer>

namespace platform::uikit {


// What a screen shows in the navigation bar while it is on top (and, through its back item,
// on the back button of the screen above it).
class NavigationItem : public QObject {
    Q_OBJECT
public:
    explicit NavigationItem(QObject* parent = nullptr) : QObject(parent) {}
    ~NavigationItem() override;

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    // The item owns its title view, shown by a bar or not: a view replaced, or still set when
    // the item goes, goes with it.
    View* titleView() const { return m_titleView; }
    void setTitleView(View* view);
    BarButtonItem* leftBarButtonItem() const { return m_left; }
    void setLeftBarButtonItem(BarButtonItem* item);
    BarButtonItem* rightBarButtonItem() const { return m_right; }
    void setRightBarButtonItem(BarButtonItem* item);
    BarButtonItem* backBarButtonItem() const { return m_back; }
    void setBackBarButtonItem(BarButtonItem* item);
    bool hidesBackButton() const { return m_hidesBackButton; }
    void setHidesBackButton(bool hides, bool animated = false);

Q_SIGNALS:
    void changed();

private:
    void adopt(BarButtonItem* item);

    QString m_title;
    QPointer<View> m_titleView;
    QPointer<BarButtonItem> m_left;
    QPointer<BarButtonItem> m_right;
    QPointer<BarButtonItem> m_back;
    bool m_hidesBackButton = false;
};

} // namespace platform::uikit
