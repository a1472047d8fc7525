#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// The application's sandbox. Every path is absolute and its folder exists once returned.
// The root is KORVANE_HOME when set, else $XDG_DATA_HOME/korvane, else ~/.local/share/korvane.
// The variables are read once, and again only after `homeVariablesChanged()`: the home is
// asked on every read of the user defaults, hundreds of times while a screen is built.
struct Directories {
    static QString home();
    static QString documents();           // Documents
    static QString caches();              // Library/Caches
    static QString applicationSupport();  // Library/Application Support
    static QString preferences();         // Library/Preferences
    static QString temporary();           // tmp
    static QString keychains();           // Library/Keychains, mode 0700

    // The root path without creating anything (cheap; for noticing a change of home). A
    // relative KORVANE_HOME follows the working directory, so it is worked out on each call.
    static QString homePath();
    // Counts the changes of home announced so far; a reader that keeps what it read from the
    // home compares it (one atomic load) before looking at the home again.
    static quint64 homeGeneration();
    // Tells that KORVANE_HOME, XDG_DATA_HOME or HOME may have changed (tests switching homes).
    static void homeVariablesChanged();
};

} // namespace platform
