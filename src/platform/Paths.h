// The two fixed paths of the data source, set when it is built.
#ifndef TRACELET_PATHS_H
#define TRACELET_PATHS_H

// The companion shared object loaded at start-up.
extern const char g_szCompanionPath[];
// The folder whose existence switches the trace log on.
extern const char g_szLogFolder[];

#endif  // TRACELET_PATHS_H
