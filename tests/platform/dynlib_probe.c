/* A tiny shared library placed beside the dynlib test's executable. */
__attribute__((visibility("default"))) int DynLibProbeAnswer(void) { return 42; }
