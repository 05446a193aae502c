#include "sandbox/confine.h"

namespace tessaro {

UniqueHandle RestrictedDecoderToken() {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                          &own))
        return UniqueHandle();
    const UniqueHandle ownToken(own);
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 0, nullptr, 0, nullptr, 0, nullptr,
                               &restricted))
        return UniqueHandle();
    UniqueHandle token(restricted);
    SID_IDENTIFIER_AUTHORITY labels = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID low = nullptr;
    if (AllocateAndInitializeSid(&labels, 1, SECURITY_MANDATORY_LOW_RID, 0, 0, 0, 0, 0, 0, 0,
                                 &low)) {
        TOKEN_MANDATORY_LABEL label{};
        label.Label.Attributes = SE_GROUP_INTEGRITY;
        label.Label.Sid = low;
        SetTokenInformation(token.get(), TokenIntegrityLevel, &label,
                            static_cast<DWORD>(sizeof label + GetLengthSid(low)));
        FreeSid(low);
    }
    return token;
}

}  // namespace tessaro
