// What the window contract test needs to know of the backend it runs
// against: the few ways in which backends legitimately differ. Each
// backend's traits file (contract/*_traits.cpp) says why.
#pragma once

struct ContractBackendTraits {
  const char* name;
  bool hasGL;                // a real GL context: glGetString answers
  bool deliversTimers;       // SetTimer's WM_TIMER arrives in real time
  bool reportsSizeOnCreate;  // a visible window gets WM_SIZE with its client size
  bool minimises;            // SC_MINIMIZE through the default handling minimises
  bool minimiseDeactivates;  // ... and sends WM_ACTIVATE(WA_INACTIVE, minimised)
  bool grantsEveryMode;      // a scripted display that takes any mode
  void (*reset)();           // before each test; may be nullptr
};

extern const ContractBackendTraits ContractBackend;
