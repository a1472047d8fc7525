#pragma once

// Fills the router with every screen the application has, so screens open one another
// without including one another. The application delegate calls it before the root is built.
void KRInstallAppRoutes();
