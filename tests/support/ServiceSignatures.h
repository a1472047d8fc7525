#pragma once

#include "support/FakeService.h"

#include <QString>
#include <QVariantMap>

// What the fake service checks of signed requests, worked out independently of the client:
// the signature is recomputed over the query exactly as it arrived on the wire.
namespace testsupport {

// A fixed pair of navigation image names and the mixin key they give.
QString fixtureWBIImageKey();
QString fixtureWBISubKey();
QString fixtureWBIMixinKey();

// The navigation reply carrying the two image addresses of the web signature.
QVariantMap navigationReplyWithImages(const QString& imageKey, const QString& subKey, int code = 0);
// Routes "/x/web-interface/nav" on the API host to the fixture reply.
void routeNavigationFixture(FakeService& service);

// The raw query with one "name=value" pair taken out, and that pair's raw value.
QString queryWithout(const QString& rawQuery, const QString& name, QString* removedValue = nullptr);

// Query keys in plain character-code order, no key twice, "sign" equal to the MD5 of the
// rest of the query followed by the secret; `why` says what failed.
bool verifyAppSignature(const FakeRequest& request, const QString& appSecret, QString* why = nullptr);
// "wts" present, keys sorted, "w_rid" equal to the MD5 of the rest of the query followed
// by the mixin key, and none of ! ' ( ) * left in any value.
bool verifyWBISignature(const FakeRequest& request, const QString& mixinKey, QString* why = nullptr);

// Routes a host and path so that it answers `reply` only to a correctly signed request and
// 403 with a service error otherwise.
void routeAppSigned(FakeService& service, const QString& host, const QString& path, const QString& appSecret,
                    const FakeReply& reply);
void routeWBISigned(FakeService& service, const QString& host, const QString& path, const QString& mixinKey,
                    const FakeReply& reply);

} // namespace testsupport
