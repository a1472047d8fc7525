// STAND-IN: the caching entry comes with the caching part; the merge replaces this file.
#include "video/KRVideoDetailViewController.h"

void KRVideoDetailViewController::fullscreenCacheTapped() {}
