// Deleting a saved group's tiles so that no tile is ever lost: not to a deletion cut short, not
// to a file renamed into a tile's place, not to a forged record.
//
// Tiles go one at a time, so a run killed in between, or tiles that cannot be deleted, leave part
// of a group beside its complete mosaic. Joined again, those leftovers would make a smaller mosaic
// replace the complete one. So before the first tile goes, a journal in the directory records the
// mosaic's identity and each tile's name and identity; it is written whole under another name,
// flushed and switched into place, never rewritten. A later run that finds a journal it can
// trust, the mosaic it names and only tiles it lists knows the group is already saved.
//
// A tile is deleted only while its name still holds the very file that was decoded: it is moved
// to a private name, checked there, and only then unlinked; anything else is put back. Everything
// here works inside one open directory and expects the caller to hold its lock.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "os/file_id.h"

namespace tessaro {

// The journal's name in the group's directory: hidden, and never named like a tile or a mosaic.
inline constexpr char kJournalName[] = ".tessaro-journal";

// A tile as deletion needs it: its name in the directory and the identity that name had when the
// tile was opened for decoding.
struct TileRecord {
    std::string name;
    FileId atName;
};

struct RemovalJournal {
    FileId mosaic;
    std::vector<TileRecord> tiles;
    // Written by an earlier version as ".NAME.bmp.tessaro-journal": it names no mosaic identity
    // and no change times, so only sizes and modification times are compared.
    bool legacy = false;
};

// The directory's journal, when it can be trusted: a regular file with one link, owned by the
// user running tessaro, opened without following a link, of a journal's size and form. Anything
// else is ignored.
// `ownNewFiles`: the owner the file system gives this run's new files there (see ReadTrustedFile).
std::optional<RemovalJournal> ReadJournal(int dirFd, const std::string& mosaicName,
                                          std::optional<uint32_t> ownNewFiles = std::nullopt);

// True when the group is what an earlier run saved and had begun to delete: the file at
// mosaicName is the journal's mosaic, and every tile named is one the journal lists, unchanged
// (same device, inode, size and modification time).
bool IsSavedGroup(int dirFd, const std::vector<std::string>& tileNames,
                  const std::string& mosaicName, const RemovalJournal& journal);

// Clears what a run killed in this directory left behind: a tile caught between its private name
// and its deletion (deleted when it is the journal's tile, else put back), an unfinished journal
// and the mosaic's temporary files, among the names the walk saw there (`leftovers`: the
// directory is not listed again). Only files of the user running tessaro are removed.
void TidyDirectory(int dirFd, const std::string& mosaicName,
                   const std::optional<RemovalJournal>& journal, const std::vector<std::string>& leftovers);

// Records the tiles and the saved mosaic in a new journal, flushed to stable storage, then deletes
// the tiles in order. A tile that cannot be deleted, or no longer is the file decoded, stays; the
// journal is removed only when every tile is gone. If the journal cannot be written, nothing is
// deleted. Both return how many tiles they deleted.
std::size_t DeleteTiles(int dirFd, const std::vector<TileRecord>& tiles, const FileId& mosaic);

// Goes on with the deletion the journal records, without rewriting it.
std::size_t FinishDeletion(int dirFd, const std::string& mosaicName, const RemovalJournal& journal);

}  // namespace tessaro
