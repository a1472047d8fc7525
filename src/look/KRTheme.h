#pragma once

#include "platform/uikit/Image.h"

#include <QBrush>
#include <QColor>
#include <QObject>
#include <QSizeF>
#include <QString>

#include <memory>
#include <optional>

namespace platform {
class DelayedCalls;
}
namespace platform::uikit {
class BarButtonItem;
class Label;
class NavigationController;
class NavigationItem;
class SegmentedControl;
class TableViewCell;
class TabBarController;
class View;
}

// Posted (object: the theme) after setStyle stored a new style.
inline const QString KRThemeDidChangeNotification = QStringLiteral("KRThemeDidChangeNotification");
// The tag of the backdrop view painted under the status bar.
constexpr int KRThemeStatusBarBackdropTag = 850020;

// How the application looks: one of three styles (0 white, 1 black, 2 pink, the default),
// kept in the user defaults under "KRThemeStyle", with the colour roles, the generated
// images and the dressing of bars and the status-bar backdrop. Main thread only.
class KRTheme : public QObject {
    Q_OBJECT
public:
    static KRTheme* sharedTheme();

    int style() const;
    // Stores 0–2 when it differs from the current style, then posts KRThemeDidChangeNotification.
    void setStyle(int style);
    QString displayName() const;

    QBrush backgroundColor() const;  // the style's 8×8 tile as a pattern
    QColor surfaceColor() const;
    QColor primaryTextColor() const;
    QColor secondaryTextColor() const;
    QColor separatorColor() const;
    QColor accentColor() const;
    QColor navigationColor() const;
    QColor navigationTextColor() const;
    QColor selectionColor() const;
    int spinnerStyle() const;

    platform::uikit::Image backgroundTileImage() const;
    platform::uikit::Image navigationBackgroundImage() const;
    platform::uikit::Image surfaceBackgroundImage() const;
    platform::uikit::Image searchFieldBackgroundImage() const;
    platform::uikit::Image groupedCellBackgroundImageWithTopCorners(bool top, bool bottom, qreal height) const;

    // A new title label; the caller owns it.
    platform::uikit::Label* navigationTitleLabelWithText(const QString& text) const;
    void applyNavigationTitle(const QString& title, platform::uikit::NavigationItem* item) const;
    void refreshNavigationController(platform::uikit::NavigationController* controller);
    void finishNavigationRefresh(platform::uikit::NavigationController* controller);
    void refreshStatusBarBackdropForNavigationController(platform::uikit::NavigationController* controller);
    platform::uikit::Image navigationChromeBackgroundImageForNavigationController(platform::uikit::NavigationController* controller) const;
    void applyToNavigationSegmentedControl(platform::uikit::SegmentedControl* control) const;
    void applyToTabBarController(platform::uikit::TabBarController* controller);

    // Whether a second refresh pass waits for this controller.
    bool hasPendingRefresh(platform::uikit::NavigationController* controller) const;

private:
    KRTheme();
    ~KRTheme() override;
    std::unique_ptr<platform::DelayedCalls> m_delayed;
};

int KRThemeSystemMajorVersion();
// A themed row: surface colour, a clear content view, the surface image as the background view
// (an image view kept across calls) and a selected background in the selection colour.
void KRThemeApplyRowBackgrounds(platform::uikit::TableViewCell* cell);
platform::uikit::Image KRThemeGradientImage(const QColor& top, const QColor& bottom, const std::optional<QColor>& stroke,
                                            const QSizeF& size, qreal cornerRadius);
platform::uikit::Image KRThemeClassicNavigationGradientImage(int style, qreal height);
bool KRThemeUsesContinuousStatusBarStyle();
QColor KRThemeSeparatedStatusBarBackdropColor(int style);
void KRThemeApplyBarButtonItemAppearance(platform::uikit::BarButtonItem* item, int style, const QColor& textColor);
void KRThemeCommitLegacyNavigationLayout(platform::uikit::View* view);
void KRThemeSynchronizeVisibleNavigationButtonText(platform::uikit::View* view, int style, const QColor& textColor);
