#include "os/cpu_quota.h"

#include <charconv>
#include <cstdint>

namespace tessaro {

int CpusForQuota(std::string_view quota, std::string_view period) {
    int64_t q = 0;
    int64_t p = 0;
    const auto parse = [](std::string_view text, int64_t& value) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size();
    };
    if (!parse(quota, q) || !parse(period, p) || q <= 0 || p <= 0) return 0;
    return static_cast<int>((q + p - 1) / p);
}

}  // namespace tessaro
