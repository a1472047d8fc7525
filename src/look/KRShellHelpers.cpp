#include "look/KRShellHelpers.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/NumberText.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "store/KRDeviceCatalog.h"

#include <QMetaMethod>

using namespace platform::uikit;

ViewController* KRVisibleLeafController(ViewController* controller)
{
    ViewController* c = controller;
    while (c) {
        if (auto* tab = qobject_cast<TabBarController*>(c))
            c = tab->selectedViewController();
        else if (auto* nav = qobject_cast<NavigationController*>(c))
            c = nav->topViewController();
        else
            break;
    }
    return c;
}

namespace {
QMetaMethod hookMethod(QObject* object, const QByteArray& signature)
{
    if (!object)
        return {};
    const int index = object->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(signature.constData()));
    return index < 0 ? QMetaMethod() : object->metaObject()->method(index);
}
} // namespace

bool KRViewControllerAllowsPlaybackRotation(ViewController* controller)
{
    ViewController* leaf = KRVisibleLeafController(controller);
    const QMetaMethod m = hookMethod(leaf, QByteArray(KRPlaybackRotationHook::allowsRotation) + "()");
    if (!m.isValid() || m.returnType() != QMetaType::Bool)
        return false;
    bool allows = false;
    if (!m.invoke(leaf, Qt::DirectConnection, Q_RETURN_ARG(bool, allows)))
        return false;
    return allows;
}

QList<QByteArray> KRPlaybackRotationHookSignatures()
{
    namespace H = KRPlaybackRotationHook;
    QList<QByteArray> signatures;
    for (const char* name : {H::allowsRotation, H::enterFullscreenForLandscape, H::restoreFullscreenAfterLandscape,
                             H::raiseSurfaceAfterPreparation, H::layoutDuringRotation, H::completeRotationLayout})
        signatures.append(QByteArray(name) + "()");
    signatures.append(QByteArray(H::prepareTransitionToSize) + "(QSizeF)");
    return signatures;
}

bool KRInvokeHook(ViewController* screen, const char* name)
{
    const QMetaMethod m = hookMethod(screen, QByteArray(name) + "()");
    return m.isValid() && m.invoke(screen, Qt::DirectConnection);
}

bool KRInvokeSizeHook(ViewController* screen, const char* name, const QSizeF& size)
{
    const QMetaMethod m = hookMethod(screen, QByteArray(name) + "(QSizeF)");
    return m.isValid() && m.invoke(screen, Qt::DirectConnection, Q_ARG(QSizeF, size));
}

bool KRInvokeDeviceOrientationSetter(QObject* device, int orientation)
{
    const QMetaMethod m = hookMethod(device, "setOrientation(int)");
    return m.isValid() && m.invoke(device, Qt::DirectConnection, Q_ARG(int, orientation));
}

int KRRootSystemMajorVersion()
{
    const QStringList parts = platform::DeviceProfile::systemVersion().split(QLatin1Char('.'));
    if (parts.isEmpty())
        return 0;
    return int(platform::NumberText::integerValue(parts.first()));
}

namespace {
bool hasSafeAreas() { return KRRootSystemMajorVersion() >= 11; }
} // namespace

EdgeInsets KRSafeAreaInsetsForView(const View* view)
{
    if (!view || !hasSafeAreas())
        return {};
    const EdgeInsets own = view->safeAreaInsets();
    const Window* window = view->window();
    if (own.isZero() && window && static_cast<const View*>(window) != view)
        return window->safeAreaInsets();
    return own;
}

QRectF KRRectInsetBySafeArea(const QRectF& rect, const EdgeInsets& insets)
{
    return QRectF(rect.x() + insets.left, rect.y() + insets.top, std::max<qreal>(0, rect.width() - insets.left - insets.right),
                  std::max<qreal>(0, rect.height() - insets.top - insets.bottom));
}

bool KRViewUsesFullScreenSafeArea(const View* view)
{
    if (!view || !hasSafeAreas())
        return false;
    const EdgeInsets i = KRSafeAreaInsetsForView(view);
    return i.top > 20.5 || i.left > 0.5 || i.bottom > 0.5 || i.right > 0.5;
}

bool KRApplicationUsesFullScreenSafeArea()
{
    if (!hasSafeAreas())
        return false;
    auto& app = Application::shared();
    if (KRViewUsesFullScreenSafeArea(app.keyWindow()))
        return true;
    for (Window* w : app.windows()) {
        if (w->isHidden() || w->alpha() <= 0.01)
            continue;
        if (KRViewUsesFullScreenSafeArea(w))
            return true;
        ViewController* root = w->rootViewController();
        if (root && root->isViewLoaded() && KRViewUsesFullScreenSafeArea(root->view()))
            return true;
    }
    const QString machine = platform::DeviceProfile::machine();
    return !machine.isEmpty() && KRDeviceHasFullScreenDisplayForMachineIdentifier(machine);
}

void KRNavigateToProfileTab(ViewController* controller)
{
    if (!controller)
        return;
    // Both are taken before the pop: a popped screen has left its tab bar controller, and the
    // pop may destroy the screen that asked, so nothing of it is touched afterwards.
    QPointer<NavigationController> stack = controller->navigationController();
    QPointer<TabBarController> tabs = controller->tabBarController();
    if (stack)
        stack->popToRootViewControllerAnimated(false);
    if (tabs && tabs->viewControllers().size() >= 4)
        tabs->setSelectedIndex(3);
}
