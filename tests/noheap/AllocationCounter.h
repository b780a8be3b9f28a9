// Counts the process's heap allocations while a window is open.
#ifndef TRACELET_TEST_ALLOCATIONCOUNTER_H
#define TRACELET_TEST_ALLOCATIONCOUNTER_H

#include <stddef.h>

namespace allocations {

// Installs the counter where it needs installing (the sanitizer hook);
// false when this build cannot count.
bool Install();
// Opens the window: allocations from now on are counted.
void Begin();
// Closes it and returns how many allocations it saw.
size_t End();

}  // namespace allocations

#endif  // TRACELET_TEST_ALLOCATIONCOUNTER_H
