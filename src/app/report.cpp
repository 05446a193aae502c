#include "app/report.h"

#include <cstdio>

#include "app/utf8.h"

namespace tessaro {

namespace {

const char* OutcomeName(GroupResult result) {
    switch (result) {
        case GroupResult::saved: return "saved";
        case GroupResult::checked: return "checked";
        case GroupResult::count: return "count";
        case GroupResult::unreadable: return "unreadable";
        case GroupResult::sizeMismatch: return "size_mismatch";
        case GroupResult::tooLarge: return "too_large";
        case GroupResult::readFailed: return "read_failed";
        case GroupResult::saveFailed:
        case GroupResult::abandoned: break;
    }
    return "save_failed";
}

}  // namespace

std::string JsonString(std::string_view bytes) {
    std::string json = "\"";
    char escape[8];
    while (!bytes.empty()) {
        const auto c = static_cast<unsigned char>(bytes.front());
        uint32_t code = 0;
        const std::size_t length = Utf8Character(bytes, &code);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
        } else if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", c);
            json += escape;
        } else {
            json.append(bytes.substr(0, length));
            bytes.remove_prefix(length - 1);
        }
        bytes.remove_prefix(1);
    }
    return json + '"';
}

std::string ReportLine(const ScannedGroup& group, const GroupOutcome& outcome,
                       const std::optional<std::string>& mosaicPath) {
    std::string line = "{\"dir\":" + JsonString(group.dir) + ",\"outcome\":\"" +
                       OutcomeName(outcome.result) + "\",\"tiles\":" + std::to_string(group.names.size()) +
                       ",\"mosaic\":";
    line += outcome.saved() && mosaicPath ? JsonString(*mosaicPath) : "null";
    line += ",\"deleted\":" + std::to_string(outcome.deleted) + "}\n";
    return line;
}

}  // namespace tessaro
