#pragma once

#include <memory>

class KRVideo;
class KRVideoGridCell;

// Told when an available video's card of a two-card row is tapped.
class KRVideoGridCellDelegate {
public:
    virtual ~KRVideoGridCellDelegate() = default;
    virtual void videoGridCellDidSelectVideo(KRVideoGridCell* cell, const std::shared_ptr<KRVideo>& video) = 0;
};
