#include "os/interrupt.h"

namespace tessaro {

// No console control handler yet: nothing ever sets an interrupt.
void* InterruptEvent() { return nullptr; }

}  // namespace tessaro
