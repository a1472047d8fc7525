#pragma once

#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "video/KRVideoOfflinePickerOverlay.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>

namespace platform::uikit {
class TableView;
}

// The choice of parts to cache, over the video page: one row per part ("P2 <title>") with a
// tick on each chosen one; a part already kept offline says "已缓存" and starts unticked (a
// batch skips it when it is ticked anyway). "全选" ticks every part not cached yet, "下一步"
// hands the ticked parts on in their order and is offered only with at least one ticked;
// the backdrop and "取消" cancel.
class KRVideoOfflinePagePicker : public KRVideoOfflinePickerOverlay,
                                 public platform::uikit::TableViewDataSource,
                                 public platform::uikit::TableViewDelegate {
    Q_OBJECT
public:
    struct Part {
        QString title;
        // The part's length as the detail gives it, shown while it is not cached.
        QString duration;
        bool cached = false;
    };
    KRVideoOfflinePagePicker(platform::uikit::View* host, QList<Part> parts, std::function<void(const QList<int>&)> confirmed,
                             std::function<void()> cancelled);

    platform::uikit::TableView* tableView() const { return m_table; }
    platform::uikit::Button* nextButton() const { return m_next; }
    // Ascending part indexes.
    QList<int> selectedPageIndexes() const;
    void togglePage(int index);
    void selectAllUncached();
    void layoutInHost();
    void applyTheme() override;

    int numberOfRowsInSection(platform::uikit::TableView*, int) override { return int(m_parts.size()); }
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;

    static constexpr qreal kRowHeight = 48;

private:
    void configureCell(platform::uikit::TableViewCell* cell, int row) const;
    void selectionDidChange();

    QList<Part> m_parts;
    QSet<int> m_selected;
    platform::uikit::TableView* m_table = nullptr;
    platform::uikit::Button* m_next = nullptr;
};
