// The help and "Common Files" folders are found the same way in the build tree and installed.
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include <gtest/gtest.h>

#include "app/profiles/program_folders.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFoldersTest, BesideTheProgramFirstThenTheInstalledTree) {
    const fs::path root = fs::temp_directory_path() / ("cw-folders-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path bin = root / "bin";
    fs::create_directories(bin);
    fs::create_directories(root / "share" / "clipwright" / "help");
    fs::create_directories(root / "lib" / "clipwright" / "Common Files");

    // Installed: bin/ has neither, so the trees beside it are used.
    EXPECT_EQ(HelpFolder(bin.string()), (root / "share" / "clipwright" / "help").string());
    EXPECT_EQ(LibraryFolder(bin.string()), (root / "lib" / "clipwright" / "Common Files").string());

    // Build tree: the folders beside the program win.
    fs::create_directories(bin / "help");
    fs::create_directories(bin / "Common Files");
    EXPECT_EQ(HelpFolder(bin.string()), (bin / "help").string());
    EXPECT_EQ(LibraryFolder(bin.string()), (bin / "Common Files").string());

    // A file of that name is no folder.
    fs::remove_all(bin / "help");
    std::ofstream(bin / "help") << "not a folder";
    EXPECT_EQ(HelpFolder(bin.string()), (root / "share" / "clipwright" / "help").string());
    fs::remove_all(root);

    EXPECT_TRUE(fs::is_directory(ProgramFolder())) << ProgramFolder();
}

} // namespace
} // namespace clipwright
