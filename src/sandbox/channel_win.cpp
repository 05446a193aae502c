#include "sandbox/channel_win.h"

#include <cwchar>

namespace tessaro {

namespace {

constexpr wchar_t kDigits[] = L"0123456789abcdef";

int DigitValue(wchar_t c) {
    for (int value = 0; value < 16; ++value)
        if (kDigits[value] == c) return value;
    return -1;
}

}  // namespace

std::wstring WorkerSetting(uint64_t pipe, const WorkerToken& token) {
    std::wstring setting = std::to_wstring(pipe) + L":";
    for (uint8_t byte : token.bytes) {
        setting.push_back(kDigits[byte >> 4]);
        setting.push_back(kDigits[byte & 15]);
    }
    return setting;
}

std::optional<WorkerChannelName> ParseWorkerSetting(const std::wstring& setting) {
    const std::size_t colon = setting.find(L':');
    if (colon == 0 || colon > 20 || setting.size() != colon + 1 + 2 * kWorkerTokenBytes)
        return std::nullopt;
    WorkerChannelName name;
    for (std::size_t i = 0; i < colon; ++i) {
        const int digit = DigitValue(setting[i]);
        if (digit < 0 || digit > 9 || name.pipe > (UINT64_MAX - 9) / 10) return std::nullopt;
        name.pipe = name.pipe * 10 + static_cast<uint64_t>(digit);
    }
    for (std::size_t i = 0; i < kWorkerTokenBytes; ++i) {
        const int high = DigitValue(setting[colon + 1 + 2 * i]);
        const int low = DigitValue(setting[colon + 2 + 2 * i]);
        if (high < 0 || low < 0) return std::nullopt;
        name.token.bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return name;
}

}  // namespace tessaro
