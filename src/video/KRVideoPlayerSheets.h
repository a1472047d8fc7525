#pragma once

#include "platform/uikit/ActionSheet.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

namespace platform::uikit {
class View;
class ViewController;
}

// The player's action sheets: speed, More with its loop sheet, and quality with the quality
// options the play information brings. Sheets are shown over the page, which stays their
// delegate and owner and hands their answers here; what an answer asks of playback goes back
// to the page through the actions.
class KRVideoPlayerSheets {
public:
    struct Actions {
        // A speed chosen on the speed sheet.
        std::function<void(float)> rateChosen;
        // A quality other than the playing one chosen on the quality sheet.
        std::function<void(int)> qualityChosen;
        // The quality that plays now (0 before a start).
        std::function<int()> activeQuality;
        // The quality sheet waits for options nobody has asked for yet.
        std::function<void()> optionsWanted;
        // More asked for the loop sheet, to come once More has gone.
        std::function<void()> loopSheetWanted;
        // Shows the sheet where the page's full screen wants it; false when none shows.
        std::function<bool(platform::uikit::ActionSheet*)> presentInFullscreen;
    };
    KRVideoPlayerSheets(platform::uikit::ViewController* page, platform::uikit::ActionSheetDelegate* delegate, Actions actions);

    void showSpeedSheet(platform::uikit::View* source);
    void showMoreSheet(platform::uikit::View* source);
    void showPlayerLoopActionSheetFromView(platform::uikit::View* source);
    // The loop sheet More asked for, once the page is on screen.
    void presentPendingPlayerLoopActionSheet(platform::uikit::View* source);
    // Waits for the options when there are none yet.
    void showQualitySheet(platform::uikit::View* source);
    void sheetClicked(platform::uikit::ActionSheet* sheet, int index);
    void sheetDismissed(platform::uikit::ActionSheet* sheet);
    platform::uikit::ActionSheet* visibleSheet() const { return m_visible; }

    // ---- quality options ----
    // Empty options keep the ones there are; a quality sheet waiting for them shows.
    void applyOptions(const QList<int>& values, const QStringList& titles);
    // True when options should be asked for (none yet, no request on its way); the request
    // counts as on its way until `endOptionsRequest`.
    bool claimOptionsRequest();
    void endOptionsRequest() { m_optionsRequested = false; }
    QList<int> qualityValues() const { return m_values; }
    QString qualityTitleForValue(int quality) const;
    // The quality the user chose; 0 until then.
    int selectedQuality() const { return m_selectedQuality; }
    void setSelectedQuality(int quality) { m_selectedQuality = quality; }

    // "0.5x" … "2.0x".
    static QString speedTitle(float rate);
    // Shows a sheet of the page: from the source's bounds on a pad, else over the tab bar
    // controller's view, the navigation controller's, the source's window or the page's view,
    // the first there is.
    static void presentPlaybackActionSheet(platform::uikit::ActionSheet* sheet, platform::uikit::View* sourceOrNull,
                                           platform::uikit::ViewController* page);

private:
    void present(platform::uikit::ActionSheet* sheet, platform::uikit::View* source);

    platform::uikit::ViewController* m_page;
    platform::uikit::ActionSheetDelegate* m_delegate;
    Actions m_actions;
    QList<int> m_values;
    QStringList m_titles;
    int m_selectedQuality = 0;
    bool m_qualitySheetPending = false;
    QPointer<platform::uikit::View> m_qualitySource;
    bool m_optionsRequested = false;
    bool m_loopSheetPending = false;
    QPointer<platform::uikit::ActionSheet> m_visible;
};
