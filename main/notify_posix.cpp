#include "main/notify.h"

namespace kavo {

void NotifyMainWindows(uint32_t, uintptr_t) {}

}  // namespace kavo
