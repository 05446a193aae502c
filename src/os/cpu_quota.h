// The processors a control group's CPU quota amounts to: a container given two processors on a
// machine of sixty-four runs two groups at a time, not sixty-four.
#pragma once

#include <string_view>

namespace tessaro {

// The processors a quota of `quota` microseconds in every `period` gives, rounded up; 0 for no
// quota ("max", -1, or text that is not one).
int CpusForQuota(std::string_view quota, std::string_view period);

// The processors the quota of this process's control group gives (cgroup v2's cpu.max, else
// v1's cfs quota and period); 0 where there is none.
int CpusByQuota();

}  // namespace tessaro
