#include <locale.h>
#include <string.h>

#include "os/error_text.h"

namespace tessaro {

std::string ErrorReason(int error) {
    // The environment's messages locale, made once; the C locale's where it names none or one
    // this system lacks.
    static const locale_t messages = [] {
        const locale_t named = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        return named ? named : newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return messages ? strerror_l(error, messages) : strerror(error);
}

}  // namespace tessaro
