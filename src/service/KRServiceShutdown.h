#pragma once

// Shuts the process-wide services down in a fixed order, so that nothing of theirs runs while
// static objects are destroyed. Call it once on the main thread at exit, while the application
// object still exists (before QCoreApplication::exec's caller returns):
//   1. the request pipeline closes: every exchange in flight is cancelled, later ones fail;
//      the offline cache's downloads are cancelled too;
//   2. the web-API client's worker queue drops its queued requests and joins the running
//      ones (their completions are released unrun, or wait undelivered in the main queue);
//   3. the one-off operations (account requests, danmaku loads, the risk-cookie fetch) are
//      joined, then every other worker's work (picture loads, the cache's clearing, the photo
//      library, preference writes);
//   4. the local history's pending save is written;
//   5. user defaults are written, since the stores above write to them;
//   6. every worker thread ends and is joined, last: none outlives main with its thread-locals.
// The session store writes its keychain item within each change, so it has nothing pending.
// Later calls do nothing.
void KRShutDownServices();

// Tests, when a test ends: what it left running ends as in steps 1 to 3 above (nothing it
// started still runs when the next test starts or the process ends), and the services then
// take requests again. Main thread.
void KREndServiceWorkForTesting();
