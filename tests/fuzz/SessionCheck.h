#pragma once

#include "platform/net/CookieStorage.h"
#include "store/KRSessionStore.h"

#include <QString>

#include <algorithm>

namespace fuzz {

// Whether a text holds a character no header may carry.
inline bool holdsControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// The login the session store shows: what a new process must show again.
struct SessionLogin {
    bool loggedIn;
    qint64 userID;
    QString access, refresh, csrf;
    bool operator==(const SessionLogin&) const = default;
};

inline SessionLogin sessionLogin()
{
    const KRSessionStore& store = KRSessionStore::sharedStore();
    return {store.isLoggedIn(), store.userID(), store.accessToken(), store.refreshToken(), store.csrfToken()};
}

// The session store as a new process finds it: only what the keychain holds.
inline void restartSession()
{
    platform::CookieStorage::shared().deleteAll();
    KRSessionStore::sharedStore().resetForTesting();
}

} // namespace fuzz
