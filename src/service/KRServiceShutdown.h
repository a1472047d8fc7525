#pragma once

// Shuts the process-wide services down in a fixed order, so that nothing of theirs runs while
// static objects are destroyed. Call it once on the main thread at exit, while the application
// object still exists (before QCoreApplication::exec's caller returns):
//   1. the request pipeline closes: every exchange in flight is cancelled, later ones fail;
//   2. the web-API client's worker queue drops its queued requests and joins the running
//      ones (their completions are released unrun, or wait undelivered in the main queue);
//   3. the one-off operations (danmaku loads, the risk-cookie fetch) are joined;
//   4. the local history's pending save is written;
//   5. user defaults are written, last, since the stores above write to them.
// The session store writes its keychain item within each change, so it has nothing pending.
// Later calls do nothing.
void KRShutDownServices();
