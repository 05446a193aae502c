#include "mosaic/tile_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <string_view>

#include "os/pinned_dir.h"
#include "os/unique_fd.h"

namespace tessaro {

namespace {

constexpr char kJournalHeader[] = "tessaro-journal 2";
constexpr char kNewJournalName[] = ".tessaro-journal.new";
// Where tile number i waits between leaving its name and being deleted.
constexpr char kDeletingPrefix[] = ".tessaro-deleting-";
// No journal of ours comes near this: six names of at most 255 bytes and their numbers.
constexpr off_t kMaxJournalBytes = 64 << 10;

std::string LegacyJournalName(const std::string& mosaicName) {
    return "." + mosaicName + ".tessaro-journal";
}

std::string DeletingName(std::size_t index) { return kDeletingPrefix + std::to_string(index); }

bool IsOwnFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_uid == geteuid(); }

// One record: the identity's numbers, then the name; each record ends with a NUL, so a name may
// hold anything else.
std::string Record(const FileId& id, const std::string& name) {
    std::string record;
    for (int64_t number : {static_cast<int64_t>(id.dev), static_cast<int64_t>(id.ino), id.size,
                           id.mtimeSec, id.mtimeNsec, id.ctimeSec, id.ctimeNsec})
        record += std::to_string(number) + " ";
    return record + name + '\0';
}

// Parses `count` numbers and a name from one record; false when it is malformed.
bool ParseRecord(std::string_view record, int count, FileId* id, std::string* name) {
    int64_t numbers[7] = {};
    const char* at = record.data();
    const char* end = at + record.size();
    for (int i = 0; i < count; ++i) {
        const auto [next, error] = std::from_chars(at, end, numbers[i]);
        if (error != std::errc() || next == end || *next != ' ') return false;
        at = next + 1;
    }
    *id = {static_cast<uint64_t>(numbers[0]), static_cast<uint64_t>(numbers[1]), numbers[2],
           numbers[3], numbers[4], numbers[5], numbers[6]};
    name->assign(at, end);
    return !name->empty() && name->find('/') == std::string::npos;
}

std::optional<std::string> ReadTrustedFile(int dirFd, const std::string& name) {
    UniqueFd fd(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || !IsOwnFile(st) || st.st_nlink != 1 ||
        st.st_size > kMaxJournalBytes)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    return bytes;
}

std::optional<RemovalJournal> ParseJournal(std::string_view bytes, bool legacy) {
    RemovalJournal journal;
    journal.legacy = legacy;
    bool first = true;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\0');
        if (end == std::string_view::npos) return std::nullopt;  // cut short
        const std::string_view record = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        TileRecord tile;
        if (first && !legacy) {
            if (record != kJournalHeader) return std::nullopt;
        } else if (!ParseRecord(record, legacy ? 5 : 7, &tile.atName, &tile.name)) {
            return std::nullopt;
        } else {
            journal.tiles.push_back(std::move(tile));
        }
        first = false;
    }
    if (legacy) return journal.tiles.empty() ? std::nullopt : std::optional(journal);
    // The first record after the header is the mosaic.
    if (journal.tiles.size() < 2) return std::nullopt;
    journal.mosaic = journal.tiles.front().atName;
    journal.tiles.erase(journal.tiles.begin());
    return journal;
}

// A tile decoded by this very run must still have every bit of its identity; one recorded by an
// earlier run may since have had its change time moved by that run's own renames.
bool Matches(const FileId& now, const FileId& recorded, bool decodedNow) {
    return decodedNow ? now == recorded : SameContents(now, recorded);
}

bool RenameNoReplace(int dirFd, const std::string& from, const std::string& to) {
    return renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0;
}

// Gives a file that must not be deleted its name back, or failing that a visible tile name of
// its own; if both are taken it waits under its private name for the next run.
void PutBack(int dirFd, const std::string& privateName, const std::string& name,
             std::size_t index) {
    if (!name.empty() && RenameNoReplace(dirFd, privateName, name)) return;
    RenameNoReplace(dirFd, privateName, "tessaro-kept-" + std::to_string(index) + ".tif");
}

// Deletes tile number `index` if its name still holds the recorded file; true when it is gone.
bool RemoveExactly(int dirFd, std::size_t index, const TileRecord& tile, bool decodedNow) {
    const std::optional<struct stat> before = StatEntry(dirFd, tile.name);
    if (!before) return errno == ENOENT;
    if (!Matches(FileIdOf(*before), tile.atName, decodedNow)) return false;
    // Moving it first leaves no moment in which a file renamed into place could be unlinked:
    // whatever is under the private name is checked before it goes.
    const std::string privateName = DeletingName(index);
    if (!RenameNoReplace(dirFd, tile.name, privateName)) return errno == ENOENT;
    PauseForTest("moved");
    const std::optional<struct stat> moved = StatEntry(dirFd, privateName);
    if (moved && SameContents(FileIdOf(*moved), tile.atName) &&
        unlinkat(dirFd, privateName.c_str(), 0) == 0) {
        PauseForTest("deleted");
        return true;
    }
    PutBack(dirFd, privateName, tile.name, index);
    return false;
}

void RemoveListed(int dirFd, const RemovalJournal& journal, const std::string& journalName,
                  bool decodedNow) {
    bool allGone = true;
    for (std::size_t i = 0; i < journal.tiles.size(); ++i)
        if (!RemoveExactly(dirFd, i, journal.tiles[i], decodedNow)) allGone = false;
    if (allGone) unlinkat(dirFd, journalName.c_str(), 0);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Writes the journal whole into an unnamed file, flushed, then gives it the journal's name in one
// step: directly when there is none yet, else by renaming it over the old one.
bool WriteJournal(int dirFd, const RemovalJournal& journal) {
    std::string bytes = std::string(kJournalHeader) + '\0' + Record(journal.mosaic, "mosaic");
    for (const TileRecord& tile : journal.tiles) bytes += Record(tile.atName, tile.name);
    UniqueFd fd(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    bool createdNew = false;
    if (!fd) {
        fd = UniqueFd(openat(dirFd, kNewJournalName,
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        createdNew = static_cast<bool>(fd);
    }
    bool ok = fd && WriteAll(fd.get(), bytes) && fsync(fd.get()) == 0;
    if (ok && !createdNew) {
        if (LinkUnnamedFile(fd.get(), dirFd, kJournalName)) return fd.close() && fsync(dirFd) == 0;
        ok = createdNew = LinkUnnamedFile(fd.get(), dirFd, kNewJournalName);
    }
    ok = ok && fd.close() && renameat(dirFd, kNewJournalName, dirFd, kJournalName) == 0;
    if (!ok && createdNew) unlinkat(dirFd, kNewJournalName, 0);
    return ok && fsync(dirFd) == 0;
}

// Whether `name` is one the bitmap writer gives the temporary files of mosaicName.
bool IsMosaicTempName(const std::string& name, const std::string& mosaicName) {
    const std::string stem = "." + mosaicName.substr(0, 200) + ".tessaro-";
    return name.size() == stem.size() + 6 && name.compare(0, stem.size(), stem) == 0;
}

void RemoveStaleTemporaries(int dirFd, const std::string& mosaicName) {
    struct DirCloser {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    UniqueFd listFd(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::unique_ptr<DIR, DirCloser> dir(listFd ? fdopendir(listFd.get()) : nullptr);
    if (!dir) return;
    listFd.release();
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == kNewJournalName || IsMosaicTempName(name, mosaicName)) stale.push_back(name);
    }
    for (const std::string& name : stale)
        if (const auto st = StatEntry(dirFd, name); st && IsOwnFile(*st) && st->st_nlink == 1)
            unlinkat(dirFd, name.c_str(), 0);
}

}  // namespace

std::optional<RemovalJournal> ReadJournal(int dirFd, const std::string& mosaicName) {
    if (const auto bytes = ReadTrustedFile(dirFd, kJournalName)) return ParseJournal(*bytes, false);
    if (errno != ENOENT) return std::nullopt;
    if (const auto bytes = ReadTrustedFile(dirFd, LegacyJournalName(mosaicName)))
        return ParseJournal(*bytes, true);
    return std::nullopt;
}

bool IsSavedGroup(int dirFd, const std::vector<std::string>& tileNames,
                  const std::string& mosaicName, const RemovalJournal& journal) {
    const std::optional<struct stat> mosaic = StatEntry(dirFd, mosaicName);
    if (!mosaic || !S_ISREG(mosaic->st_mode)) return false;
    if (!journal.legacy && !SameContents(FileIdOf(*mosaic), journal.mosaic)) return false;
    for (const std::string& name : tileNames) {
        const std::optional<struct stat> st = StatEntry(dirFd, name);
        if (!st) return false;
        bool listed = false;
        for (const TileRecord& tile : journal.tiles)
            listed = listed || (tile.name == name && SameContents(FileIdOf(*st), tile.atName));
        if (!listed) return false;
    }
    return true;
}

void TidyDirectory(int dirFd, const std::string& mosaicName,
                   const std::optional<RemovalJournal>& journal) {
    const std::size_t slots = journal ? journal->tiles.size() : 6;
    for (std::size_t i = 0; i < slots; ++i) {
        const std::string privateName = DeletingName(i);
        const std::optional<struct stat> st = StatEntry(dirFd, privateName);
        if (!st) continue;
        const TileRecord* tile = journal ? &journal->tiles[i] : nullptr;
        if (tile && SameContents(FileIdOf(*st), tile->atName))
            unlinkat(dirFd, privateName.c_str(), 0);
        else
            PutBack(dirFd, privateName, tile ? tile->name : std::string(), i);
    }
    RemoveStaleTemporaries(dirFd, mosaicName);
}

void DeleteTiles(int dirFd, const std::vector<TileRecord>& tiles, const FileId& mosaic) {
    RemovalJournal journal{mosaic, tiles, false};
    if (!WriteJournal(dirFd, journal)) return;
    PauseForTest("journaled");
    RemoveListed(dirFd, journal, kJournalName, true);
}

void FinishDeletion(int dirFd, const std::string& mosaicName, const RemovalJournal& journal) {
    RemoveListed(dirFd, journal, journal.legacy ? LegacyJournalName(mosaicName) : kJournalName,
                 false);
}

}  // namespace tessaro
