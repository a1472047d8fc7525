#pragma once

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QStringList>

namespace platform::uikit {

class ActionSheet;
class View;

// Told what became of a sheet: the click at once, the dismissal once the sheet has slid away.
class ActionSheetDelegate {
public:
    virtual ~ActionSheetDelegate() = default;
    virtual void actionSheetClickedButtonAtIndex(ActionSheet* sheet, int buttonIndex) {}
    virtual void actionSheetDidDismissWithButtonIndex(ActionSheet* sheet, int buttonIndex) {}
};

// A list of choices sliding up from the bottom of the view it is shown in, covering the rest of
// it with a dim backdrop; on a pad, shown from a rectangle, it is a small sheet beside that
// rectangle, without its cancel button (a tap outside cancels). Buttons are numbered in the
// order they show: a destructive one first, then the others, the cancel button last. The
// delegate belongs to `owner`: once the owner is gone the sheet tells it nothing. The sheet
// deletes itself after its dismissal.
class ActionSheet : public QObject {
    Q_OBJECT
public:
    static constexpr double kSlideDuration = 0.25;

    ActionSheet(const QString& title, ActionSheetDelegate* delegate, QObject* owner,
                const QString& cancelButtonTitle = {}, const QString& destructiveButtonTitle = {},
                const QStringList& otherButtonTitles = {});
    ~ActionSheet() override;

    QString title() const { return m_title; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    // Appends a button and answers its index.
    int addButtonWithTitle(const QString& title);
    int numberOfButtons() const { return int(m_buttons.size()); }
    QString buttonTitleAtIndex(int index) const { return m_buttons.value(index); }
    int cancelButtonIndex() const { return m_cancelIndex; }
    void setCancelButtonIndex(int index) { m_cancelIndex = index; }
    int destructiveButtonIndex() const { return m_destructiveIndex; }
    void setDestructiveButtonIndex(int index) { m_destructiveIndex = index; }
    int firstOtherButtonIndex() const { return m_firstOtherIndex; }

    void showInView(View* view);
    void showFromRect(const QRectF& rect, View* inView, bool animated);
    bool isVisible() const { return m_presentation != nullptr && !m_dismissing; }
    // Shown as a small sheet beside a rectangle (pads only).
    bool isPopover() const { return m_popover; }
    View* presentationView() const { return m_presentation; }
    // The view of button `index` while shown, or nullptr (the cancel button of a pad's sheet).
    View* buttonViewAtIndex(int index) const;

    void dismissWithClickedButtonIndex(int index, bool animated);
    // Taps the button as a finger would.
    void tapButtonForTesting(int index);

private:
    void present(View* host, const QRectF& anchor, bool popover, bool animated);
    ActionSheetDelegate* liveDelegate() const;
    void finishDismissal(int index);

    QString m_title;
    ActionSheetDelegate* m_delegate;
    QPointer<QObject> m_owner;
    bool m_hasOwner;
    QStringList m_buttons;
    int m_cancelIndex = -1;
    int m_destructiveIndex = -1;
    int m_firstOtherIndex = -1;
    int m_clickedIndex = -1;
    bool m_finished = false;
    int m_tag = 0;
    bool m_popover = false;
    bool m_dismissing = false;
    QPointer<View> m_presentation;
    QPointer<View> m_panel;
    QList<QPointer<View>> m_buttonViews;
};

} // namespace platform::uikit
