#include "os/cpu_quota.h"

namespace tessaro {

// A job object's CPU rate is not read: the processors the process may run on say enough there.
int CpusByQuota() { return 0; }

}  // namespace tessaro
