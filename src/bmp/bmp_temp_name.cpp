#include "bmp/bmp_temp_name.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "os/random_bytes.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

constexpr std::size_t kSuffixLength = 6;

uint64_t MixBits(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Six random letters and digits. They only have to make collisions rare: every name is claimed
// exclusively, so a collision just means trying another one.
std::string RandomSuffix() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::size_t kAlphabetSize = sizeof kAlphabet - 1;
    unsigned char raw[kSuffixLength];
    if (!SystemRandomBytes(raw, sizeof raw)) {
        // No entropy to be had (very early boot, old kernel): the time, the process and a
        // counter still differ from one attempt to the next.
        static std::atomic<uint64_t> counter{0};
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
        const auto nanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds);
        uint64_t bits = MixBits(static_cast<uint64_t>(nanoseconds.count()) ^
                                (static_cast<uint64_t>(seconds.count()) << 30) ^
                                (ProcessNumber() << 20) ^ counter.fetch_add(1));
        for (auto& byte : raw) {
            byte = static_cast<unsigned char>(bits);
            bits >>= 8;
        }
    }
    std::string suffix;
    for (unsigned char byte : raw) suffix += kAlphabet[byte % kAlphabetSize];
    return suffix;
}

std::string TempPrefix(const std::string& targetName) {
    return "." + targetName.substr(0, TempStemBytes(targetName)) + ".tessaro-";
}

}  // namespace

std::size_t TempStemBytes(std::string_view targetName) {
    std::size_t length = std::min(targetName.size(), kMaxTempStemBytes);
    // On Windows the name goes to the system as UTF-16, so a character is never cut; elsewhere
    // names are bytes.
    if constexpr (kNativePathStyle == PathStyle::windows) {
        while (length > 0 && length < targetName.size() &&
               (static_cast<unsigned char>(targetName[length]) & 0xC0) == 0x80)
            --length;
    }
    return length;
}

std::string MakeTempName(const std::string& targetName) {
    return TempPrefix(targetName) + RandomSuffix();
}

bool IsTempNameOf(const std::string& name, const std::string& targetName) {
    const std::string prefix = TempPrefix(targetName);
    return name.size() == prefix.size() + kSuffixLength &&
           name.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace tessaro
