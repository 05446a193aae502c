#include "scan/group_list.h"

#include "scan/path_text.h"

namespace tessaro {

std::string ScannedGroup::TilePath(std::size_t i) const { return JoinPath(dir, names[i]); }

bool IsLeftoverName(std::string_view name) {
    return name.starts_with('.') && name.find("tessaro-") != std::string_view::npos &&
           name != ".tessaro-lock";
}

void AddGroup(GroupList& list, const ScannedGroup& group) {
    GroupList::Packed packed;
    packed.at = list.text.size();
    packed.dirBytes = static_cast<std::uint32_t>(group.dir.size());
    packed.rootBytes = static_cast<std::uint32_t>(group.rootBytes);
    packed.tiles = static_cast<std::uint32_t>(group.names.size());
    packed.leftovers = static_cast<std::uint32_t>(group.leftovers.size());
    packed.dirId = group.dirId;
    list.text += group.dir;
    list.text += '\0';
    for (const auto* names : {&group.names, &group.leftovers})
        for (const std::string& name : *names) {
            list.text += name;
            list.text += '\0';
        }
    list.groups.push_back(packed);
}

std::string_view GroupDir(const GroupList& list, std::size_t i) {
    const GroupList::Packed& packed = list.groups[i];
    return std::string_view(list.text).substr(packed.at, packed.dirBytes);
}

ScannedGroup GroupAt(const GroupList& list, std::size_t i) {
    const GroupList::Packed& packed = list.groups[i];
    ScannedGroup group{std::string(GroupDir(list, i)), packed.dirId, {}, packed.rootBytes, {}};
    const char* at = list.text.data() + packed.at + packed.dirBytes + 1;
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
