#pragma once

#include "support/FakeService.h"

#include <QString>
#include <QVariantMap>

// What the fake service checks of signed requests, worked out independently of the client:
// the signature is recomputed over the query exactly as it arrived on the wire.
namespace testsupport {

// A navigation image name (one of the fixture pair) and the mixin key the pair gives.
QString fixtureWBIImageKey();
QString fixtureWBISubKey();
QString fixtureWBIMixinKey();

// The navigation reply carrying the two image addresses of the web signature.
QVariantMap navigationReplyWithImages(const QString& imageKey, const QString& subKey, int code = 0);
// Routes "/x/web-interface/nav" on every host to the fixture reply (code -101, logged out).
void routeNavigationFixture(FakeService& service);

// Query keys in plain character-code order, no key twice, "appkey" and "ts" present, and
// "sign" equal to the MD5 of the rest of the query followed by the secret.
bool verifyAppSignature(const FakeRequest& request, const QString& appSecret, QString* why = nullptr);

// A handler that answers only correctly signed requests, and 403 with code -403 otherwise. The
// web signature: keys sorted, "wts" present, "w_rid" equal to the MD5 of the rest of the query
// followed by the mixin key, and none of ! ' ( ) * left in any value.
FakeService::Handler appSigned(const QString& appSecret, FakeService::Handler handler);
FakeService::Handler wbiSigned(const QString& mixinKey, FakeService::Handler handler);

} // namespace testsupport
