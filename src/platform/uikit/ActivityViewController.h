#pragma once

#include "platform/uikit/ViewController.h"

#include <QVariantList>

namespace platform::uikit {

class Button;
class Label;

// The system's activity sheet as far as a desktop has one: the shared items listed, a copy
// action putting them on the pasteboard, and a close action. Systems before 6 have none.
class ActivityViewController : public ViewController {
    Q_OBJECT
public:
    // Items are texts (QString) and addresses (QUrl).
    explicit ActivityViewController(const QVariantList& activityItems, QObject* parent = nullptr);

    static bool isAvailable();

    QVariantList activityItems() const { return m_items; }
    Button* copyButton() const { return m_copyButton; }
    Button* closeButton() const { return m_closeButton; }
    // The text the copy action puts on the pasteboard: the address when there is one, else the texts.
    QString textForCopying() const;

protected:
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;

private:
    QVariantList m_items;
    QList<Label*> m_itemLabels;
    Button* m_copyButton = nullptr;
    Button* m_closeButton = nullptr;
};

} // namespace platform::uikit
