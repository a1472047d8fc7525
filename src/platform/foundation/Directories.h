#pragma once

#include <QString>

namespace platform {

// The application's sandbox. Every path is absolute and its folder exists once returned.
// The root is KORVANE_HOME when set (read on every call, so tests can switch homes),
// else $XDG_DATA_HOME/korvane, else ~/.local/share/korvane.
struct Directories {
    static QString home();
    static QString documents();           // Documents
    static QString caches();              // Library/Caches
    static QString applicationSupport();  // Library/Application Support
    static QString preferences();         // Library/Preferences
    static QString temporary();           // tmp
    static QString keychains();           // Library/Keychains, mode 0700

    // The root path without creating anything (cheap; for noticing a change of home).
    static QString homePath();
};

} // namespace platform
