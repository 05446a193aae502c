#include "group/tile_removal.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "os/pinned_dir.h"
#include "temp_dir.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;

struct RemovalTest : ::testing::Test {
    RemovalTest() : dir(open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        std::ofstream(tmp / "d.bmp") << "saved";
    }
    TileRecord Record(const std::string& name) {
        std::ofstream(tmp / name) << name;
        return {name, OpenTileAt(dir.get(), name)->atName};
    }
    FileId Mosaic() { return FileIdOf(*StatEntry(dir.get(), "d.bmp")); }
    std::optional<RemovalJournal> Journal() { return ReadJournal(dir.get(), "d.bmp"); }
    testing::TempDir tmp;
    UniqueFd dir;
};

TEST_F(RemovalTest, AJournalOutlivesTilesThatCouldNotBeDeletedAndNamesOnlyThem) {
    std::vector<TileRecord> tiles{Record("1.tif"), Record("2.tif"), {"3.tif", {}}, Record("4.tif")};
    fs::create_directories(tmp / "3.tif/inside");  // not the file recorded: it stays
    tiles[2].atName = FileIdOf(*StatEntry(dir.get(), "3.tif"));
    DeleteTiles(dir.get(), tiles, Mosaic());
    EXPECT_FALSE(fs::exists(tmp / "1.tif"));
    EXPECT_FALSE(fs::exists(tmp / "4.tif"));
    const auto journal = Journal();
    ASSERT_TRUE(journal.has_value());
    EXPECT_TRUE(IsSavedGroup(dir.get(), {"3.tif"}, "d.bmp", *journal));
    std::ofstream(tmp / "1.tif") << "a new tile under an old name";
    EXPECT_FALSE(IsSavedGroup(dir.get(), {"1.tif", "3.tif"}, "d.bmp", *journal));
    fs::remove(tmp / "d.bmp");
    std::ofstream(tmp / "d.bmp") << "another mosaic";
    EXPECT_FALSE(IsSavedGroup(dir.get(), {"3.tif"}, "d.bmp", *journal));
}

TEST_F(RemovalTest, AFileRenamedOverATileIsNotDeletedAndNoJournalOutlivesTheWork) {
    std::vector<TileRecord> tiles{Record("a.tif"), Record("b.tif")};
    std::ofstream(tmp / "new.tif") << "scanned later";
    fs::rename(tmp / "new.tif", tmp / "b.tif");
    DeleteTiles(dir.get(), tiles, Mosaic());
    EXPECT_FALSE(fs::exists(tmp / "a.tif"));
    std::ifstream kept(tmp / "b.tif");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "scanned later");
    fs::remove(tmp / "b.tif");
    FinishDeletion(dir.get(), "d.bmp", *Journal());
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

TEST_F(RemovalTest, OnlyAJournalOfOursIsTrusted) {
    std::ofstream(tmp / "kept.tif") << "not the file recorded";
    DeleteTiles(dir.get(), {Record("a.tif"), {"kept.tif", {}}}, Mosaic());
    ASSERT_TRUE(Journal().has_value());
    const std::string journal = tmp / kJournalName;
    fs::rename(journal, tmp / "real");
    fs::create_symlink(tmp / "real", journal);  // through a link
    EXPECT_FALSE(Journal().has_value());
    fs::remove(journal);
    fs::create_hard_link(tmp / "real", journal);  // a second name
    EXPECT_FALSE(Journal().has_value());
    fs::remove(tmp / "real");
    EXPECT_TRUE(Journal().has_value());
    if (geteuid() == 0) {
        ASSERT_EQ(chown(journal.c_str(), 65534, 65534), 0);  // another user's
        EXPECT_FALSE(Journal().has_value());
    }
}

TEST_F(RemovalTest, AJournalOfTheEarlierFormIsStillFinished) {
    const TileRecord tile = Record("a.tif");
    const FileId& id = tile.atName;
    std::ofstream(tmp / ".d.bmp.tessaro-journal")
        << id.dev << ' ' << id.ino << ' ' << id.size << ' ' << id.mtimeSec << ' ' << id.mtimeNsec
        << " a.tif" << '\0';
    const auto journal = Journal();
    ASSERT_TRUE(journal.has_value());
    EXPECT_TRUE(IsSavedGroup(dir.get(), {"a.tif"}, "d.bmp", *journal));
    FinishDeletion(dir.get(), "d.bmp", *journal);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tessaro
