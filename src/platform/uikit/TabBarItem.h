#pragma once

#include "platform/uikit/Image.h"
#include "platform/uikit/TextAttributes.h"

#include <QMap>
#include <QObject>

namespace platform::uikit {

// A tab's title, images and tag; finished images are drawn as they are, the plain image is
// tinted by the bar.
class TabBarItem : public QObject {
    Q_OBJECT
public:
    TabBarItem(const QString& title, const Image& image, int tag, QObject* parent = nullptr);

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    Image image() const { return m_image; }
    int tag() const { return m_tag; }
    Image finishedSelectedImage() const { return m_finishedSelected; }
    Image finishedUnselectedImage() const { return m_finishedUnselected; }
    void setFinishedImages(const Image& selected, const Image& unselected);
    TextAttributes titleTextAttributes(int state) const { return m_attributes.value(state); }
    void setTitleTextAttributes(const TextAttributes& attributes, int state);
    QString badgeValue() const { return m_badge; }
    void setBadgeValue(const QString& badge);

Q_SIGNALS:
    void changed();

private:
    QString m_title;
    Image m_image;
    int m_tag;
    Image m_finishedSelected;
    Image m_finishedUnselected;
    QMap<int, TextAttributes> m_attributes;
    QString m_badge;
};

} // namespace platform::uikit
