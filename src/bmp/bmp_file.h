// The 24-bit bitmap file, written in place: the mosaic's pixel block lives in the output file
// itself, so a mosaic of any size costs no memory of its own.
//
// A BmpFile is a temporary file in the target's directory, created exclusively, sized to the
// bitmap's exact length (space reserved up front, so a full disk shows before any tile is read)
// and filled with zeros. Callers write pixel rows into it at their offsets; SaveBmp24 then writes
// the headers and puts the file in place of the target atomically. Until then the target is
// untouched, and a BmpFile dropped without saving leaves nothing behind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "os/file_id.h"
#include "os/file_io.h"
#include "os/unique_fd.h"

namespace tessaro {

constexpr uint32_t kBmpHeaderSize = 54;

// Bytes per pixel row: 3 per pixel, rounded up to a multiple of 4.
constexpr uint64_t BmpStride(int32_t width) {
    return (3 * static_cast<uint64_t>(width) + 3) / 4 * 4;
}
// Size of the pixel block: stride x height.
constexpr uint64_t BmpImageSize(int32_t width, int32_t height) {
    return BmpStride(width) * static_cast<uint64_t>(height);
}

// The 14-byte file header and 40-byte info header of an uncompressed bottom-up 24-bit bitmap,
// every field little-endian. width and height must be positive and BmpImageSize + 54 must fit in
// 32 bits (the caller checks this).
std::array<uint8_t, kBmpHeaderSize> MakeBmpHeader(int32_t width, int32_t height);

struct BmpFile {
    UniqueFd fd;
    std::string targetPath;
    int32_t width = 0;
    int32_t height = 0;
    std::string tempPath;   // hidden temporary name in the target's directory, when it has one
    UniqueFd dirFd;         // the target's directory, as found at creation
    FileId id;              // the file as saved, once SaveBmp24 has put it in place
    bool saved = false;
    BmpFile() = default;
    BmpFile(BmpFile&&) noexcept;
    BmpFile& operator=(BmpFile&&) noexcept;
    ~BmpFile();             // removes the temporary file unless it was saved
};

// Creates the temporary file for a width x height bitmap that will be saved as the entry `name`
// of the open directory dirFd (which stays the caller's): the file is made, and later put in
// place, in that very directory. Empty when it cannot be created or its space cannot be reserved.
std::optional<BmpFile> CreateBmp24At(int dirFd, const std::string& name, int32_t width,
                                     int32_t height);

// Writes size bytes at byte offset `offset` of the pixel block (0 = first byte after the
// headers). Handles short writes and EINTR; false on any failure.
bool WriteBmpPixels(BmpFile& file, uint64_t offset, const void* data, std::size_t size);

// Bytes that lie in one place, to be written with others gathered from elsewhere.
using BmpPiece = FilePiece;

// The same for bytes gathered from several places (at most kMaxBmpPieces pieces), written one
// after the other from `offset` on, in as few writes as the system allows.
inline constexpr std::size_t kMaxBmpPieces = kMaxFilePieces;
bool WriteBmpPixels(BmpFile& file, uint64_t offset, std::span<const BmpPiece> pieces);

// Writes the headers and replaces the target with the file atomically (an earlier file there
// stays whole until the switch). With `durable`, the file and then its directory are flushed to
// stable storage before this returns true. The new file gets the mode a freshly created file
// would get (0666 less the umask). False on any failure, and then the target is untouched and no
// temporary file is left, with one exception: when only the final flush of the directory fails,
// the new, complete picture is already in place (file.saved is true) but not known to be durable.
bool SaveBmp24(BmpFile& file, bool durable);

}  // namespace tessaro
