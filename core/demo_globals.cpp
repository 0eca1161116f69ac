// Definition and reset of the global record.
#include "core/demo_globals.h"

#include <memory>

DemoGlobalsRecord DemoGlobals{};

void ClearDemoGlobals() {
  // Value-initialisation zeroes plain fields and atomics alike; atomics cannot
  // be assigned as a whole record, so the record is rebuilt in place.
  std::destroy_at(&DemoGlobals);
  std::construct_at(&DemoGlobals);
}
