#include "scan/group_list.h"

#include <algorithm>

#include "scan/path_text.h"

namespace tessaro {

std::string ScannedGroup::TilePath(std::size_t i) const { return JoinPath(dir, names[i]); }

bool IsLeftoverName(std::string_view name) {
    return name.starts_with('.') && name.find("tessaro-") != std::string_view::npos &&
           name != ".tessaro-lock";
}

void AddGroup(GroupList& list, const ScannedGroup& group) {
    std::size_t bytes = group.dir.size() + 1;
    for (const auto* names : {&group.names, &group.leftovers})
        for (const std::string& name : *names) bytes += name.size() + 1;
    if (list.text.empty() || list.text.back().size() + bytes > list.text.back().capacity()) {
        list.text.emplace_back();
        list.text.back().reserve(std::max(GroupList::kBlockBytes, bytes));
    }
    std::string& block = list.text.back();
    GroupList::Packed packed;
    packed.block = static_cast<std::uint32_t>(list.text.size() - 1);
    packed.at = static_cast<std::uint32_t>(block.size());
    packed.dirBytes = static_cast<std::uint32_t>(group.dir.size());
    packed.rootBytes = static_cast<std::uint32_t>(group.rootBytes);
    packed.tiles = static_cast<std::uint32_t>(group.names.size());
    packed.leftovers = static_cast<std::uint32_t>(group.leftovers.size());
    packed.dirId = group.dirId;
    block += group.dir;
    block += '\0';
    for (const auto* names : {&group.names, &group.leftovers})
        for (const std::string& name : *names) {
            block += name;
            block += '\0';
        }
    list.groups.push_back(packed);
}

std::string_view PackedDir(const GroupList& list, const GroupList::Packed& packed) {
    return std::string_view(list.text[packed.block]).substr(packed.at, packed.dirBytes);
}

std::string_view GroupDir(const GroupList& list, std::size_t i) { return PackedDir(list, list.groups[i]); }

ScannedGroup GroupAt(const GroupList& list, std::size_t i) {
    const GroupList::Packed& packed = list.groups[i];
    ScannedGroup group{std::string(GroupDir(list, i)), packed.dirId, {}, packed.rootBytes, {}};
    const char* at = list.text[packed.block].data() + packed.at + packed.dirBytes + 1;
    const auto take = [&](std::vector<std::string>& names, std::uint32_t count) {
        names.reserve(count);
        for (std::uint32_t n = 0; n < count; ++n) {
            names.emplace_back(at);
            at += names.back().size() + 1;
        }
    };
    take(group.names, packed.tiles);
    take(group.leftovers, packed.leftovers);
    return group;
}

}  // namespace tessaro
