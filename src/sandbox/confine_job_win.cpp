#include "sandbox/confine.h"

#include <algorithm>

namespace tessaro {

namespace {

constexpr LONGLONG kTicksPerSecond = 10'000'000;  // of 100 ns

}  // namespace

bool SetDecoderJobLimits(HANDLE job, const DecoderLimits& limits) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    JOBOBJECT_BASIC_LIMIT_INFORMATION& basic = info.BasicLimitInformation;
    basic.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                       JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                       JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
    basic.ActiveProcessLimit = 1;
    if (limits.addressSpaceBytes > 0) {
        basic.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        info.ProcessMemoryLimit = static_cast<SIZE_T>(limits.addressSpaceBytes);
    }
    if (limits.cpuSeconds > 0) {
        basic.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_TIME;
        basic.PerProcessUserTimeLimit.QuadPart =
            static_cast<LONGLONG>(std::min<uint64_t>(limits.cpuSeconds, 1u << 30)) * kTicksPerSecond;
    }
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info);
}

UniqueHandle MakeDecoderJob(const DecoderLimits& limits) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job || !SetDecoderJobLimits(job.get(), limits)) return UniqueHandle();
    // Nor any use of the desktop, the clipboard or system settings, where the system can refuse it.
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui{};
    ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                             JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                             JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                             JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_WRITECLIPBOARD;
    SetInformationJobObject(job.get(), JobObjectBasicUIRestrictions, &ui, sizeof ui);
    return job;
}

}  // namespace tessaro
