#pragma once

#include "video/KRVideoOfflinePickerOverlay.h"

#include <QStringList>

#include <functional>

// The choice of quality for caching, over the video page: one row per quality the part is
// offered in (titled as the quality menu titles it) and "取消". A row tells its index; the
// backdrop and "取消" cancel.
class KRVideoOfflineQualityPicker : public KRVideoOfflinePickerOverlay {
    Q_OBJECT
public:
    KRVideoOfflineQualityPicker(platform::uikit::View* host, const QString& title, const QStringList& options,
                                std::function<void(int index)> chosen, std::function<void()> cancelled);

    platform::uikit::Button* optionButton(int index) const { return m_options.value(index); }
    int optionCount() const { return int(m_options.size()); }
    void layoutInHost();
    void applyTheme() override;

    static constexpr qreal kRowHeight = 44;

private:
    QList<platform::uikit::Button*> m_options;
    QList<platform::uikit::View*> m_separators;
};
