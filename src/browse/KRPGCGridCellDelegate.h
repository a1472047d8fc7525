#pragma once

#include <memory>

class KRVideo;
class KRPGCGridCell;

// Told when an available video's card of a row of portrait covers is tapped.
class KRPGCGridCellDelegate {
public:
    virtual ~KRPGCGridCellDelegate() = default;
    virtual void pgcGridCellDidSelectVideo(KRPGCGridCell* cell, const std::shared_ptr<KRVideo>& video) = 0;
};
