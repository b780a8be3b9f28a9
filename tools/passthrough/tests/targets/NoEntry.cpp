// A shared object that loads fine but is no data source: no DS_Entry.
extern "C" __attribute__((visibility("default"))) int NotATwainEntryPoint(int x) { return x + 1; }
