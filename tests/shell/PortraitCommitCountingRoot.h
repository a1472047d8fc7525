#pragma once

// The application's root as the playback screens reach it through their tab bar controller,
// counting the portrait geometry commits and the modern navigation reconciliations they send it
// by name after a full screen (the root's own reconciliations after a turn are not counted).
#include "shell/KRRootViewController.h"

class PortraitCommitCountingRoot : public KRRootViewController {
    Q_OBJECT
public:
    int portraitCommits = 0;
    Q_INVOKABLE void kr_commitPortraitRootGeometry()
    {
        ++portraitCommits;
        KRRootViewController::kr_commitPortraitRootGeometry();
    }
    int navigationReconciliations = 0;
    Q_INVOKABLE void kr_reconcileModernPortraitNavigationAfterRotation()
    {
        ++navigationReconciliations;
        KRRootViewController::kr_reconcileModernPortraitNavigationAfterRotation();
    }
};
