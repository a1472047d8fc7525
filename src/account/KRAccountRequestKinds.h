#pragma once

#include "service/KRRequestPipeline.h"

#include <QString>

// Which of the request pipeline's account kinds (TV, app or web family) an identity-bound
// request belongs to. The rows themselves, with every header text, live in the pipeline.
namespace KRAccountRequestKinds {
// TV, App or Web by host (lower case) and path (exact, case-sensitive); TV wins.
KRRequestKind forAddress(const QString& host, const QString& path);
// Tests: the time-out of every account kind (0 or less restores the rows').
void setTimeoutForTesting(double seconds);
} // namespace KRAccountRequestKinds
