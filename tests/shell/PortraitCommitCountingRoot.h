#pragma once

// The application's root as the playback screens reach it through their tab bar controller,
// counting the portrait geometry commits they send it by name after a full screen.
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
};
