// Deletion with deferred deletion on real files: held files, a loaded module,
// folder trees with their run-log lines, links, drive roots and the shell.
#include "Deletion.h"
#include "PendingDeletions.h"
#include "ProcessFlags.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

using namespace testing_support;

namespace {

// Made from the Linux side by deletion_run.sh.
constexpr wchar_t kLinkTree[] = L"C:\\zltest-deletion\\tree";
constexpr wchar_t kLinkTarget[] = L"C:\\zltest-deletion\\target\\precious.txt";

class Deletion : public ::testing::Test {
protected:
    void SetUp() override { g_RebootNeeded = 0; }

    // The logged Nukedir, its lines collected.
    std::vector<std::string> LoggedNukedir(const std::wstring& folder)
    {
        std::vector<std::string> lines;
        Nukedir(folder.c_str(), [&lines](const wchar_t* line) { lines.push_back(Narrow(line)); });
        return lines;
    }

    PendingList pending;
    ScratchDir dir{L"deletion"};
};

TEST_F(Deletion, LoadedModuleEndsUnderAThrowAwayName)
{
    const std::wstring module = dir / L"module.dll";
    ASSERT_TRUE(CopyFileW((ProgramDir() + L"\\deletion_module.dll").c_str(), module.c_str(), FALSE));
    win::Module loaded(LoadLibraryW(module.c_str()));
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(RemoveFile((dir / L"never").c_str()));
    EXPECT_EQ(g_RebootNeeded, 0);
    EXPECT_TRUE(RemoveFile(module.c_str()));
    EXPECT_FALSE(FileExists(module)) << "the name is free at once";

    WIN32_FIND_DATAW data;
    win::FindHandle find(FindFirstFileW((dir / L"uni*.tmp").c_str(), &data));
    ASSERT_TRUE(find) << "the module stays in its folder under a uni name";
    const std::wstring aside = dir / data.cFileName;
    EXPECT_FALSE(FindNextFileW(find.get(), &data));
    EXPECT_NE(PendingList::Position(aside), std::wstring::npos);
    EXPECT_EQ(g_RebootNeeded, 1);
}

TEST_F(Deletion, NukedirLogsEachLevelInOrderAndDefersWhatIsHeld)
{
    const std::wstring top = dir / L"top", sub = top + L"\\sub";
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr) && CreateDirectoryW(sub.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(top + L"\\a.txt", "a") && WriteFileBytes(sub + L"\\b.txt", "b"));
    SetFileAttributesW((top + L"\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    win::Handle held = Hold(sub + L"\\b.txt");
    ASSERT_TRUE(held);

    const std::string t = Narrow(top), s = Narrow(sub);
    EXPECT_EQ(LoggedNukedir(top), (std::vector<std::string>{
                                      "Nukedir - Begin deletion of directory " + t,
                                      "Nukedir - Deleting file " + t + "\\a.txt",
                                      "Nukedir - No more files in directory " + t,
                                      "Nukedir - No more files in directory " + t + ", recursing into subdirectories",
                                      "Nukedir - Traversing into " + s,
                                      "Nukedir - Begin deletion of directory " + s,
                                      "Nukedir - Deleting file " + s + "\\b.txt",
                                      "Nukedir - Could not delete file " + s + "\\b.txt, adding to pending delete operations",
                                      "Nukedir - No more files in directory " + s,
                                      "Nukedir - No more files in directory " + s + ", recursing into subdirectories",
                                      "Nukedir - Removing directory " + s + ", should be empty now.",
                                      "Nukedir - Could not remove directory " + s + ", Adding for pending delete operation.",
                                      "Nukedir - Removing directory " + t + ", should be empty now.",
                                      "Nukedir - Could not remove directory " + t + ", Adding for pending delete operation.",
                                  }));
    EXPECT_FALSE(FileExists(top + L"\\a.txt")) << "read-only files go too";
    // Files before the folders that hold them.
    const size_t file = PendingList::Position(sub + L"\\b.txt"), inner = PendingList::Position(sub),
                 outer = PendingList::Position(top);
    ASSERT_NE(outer, std::wstring::npos);
    EXPECT_LT(file, inner);
    EXPECT_LT(inner, outer);
    EXPECT_EQ(g_RebootNeeded, 1);
}

TEST_F(Deletion, NukedirEntersRecycledOnlyBelowTheRootAndNeverADriveRoot)
{
    const std::wstring recycled = dir / L"tree\\RECYCLED";
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, recycled.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileBytes(recycled + L"\\x.txt", "x"));
    Nukedir((dir / L"tree").c_str());
    EXPECT_FALSE(FileExists(dir / L"tree"));

    // R: maps C:\zltest-deletion\drive, whose root holds a recycle folder and another folder.
    ASSERT_TRUE(FileExists(L"R:\\RECYCLED\\kept.txt")) << "deletion_run.sh maps R:";
    for (const wchar_t* root : {L"R:\\", L"R:"})
        EXPECT_EQ(LoggedNukedir(root), (std::vector<std::string>{"Nukedir - Refused to delete directory " +
                                                                 Narrow(root)}));
    EXPECT_TRUE(FileExists(L"R:\\RECYCLED\\kept.txt"));
    EXPECT_TRUE(FileExists(L"R:\\other\\kept.txt"));
    // Given the recycle folder itself, Nukedir goes in.
    Nukedir(L"R:\\RECYCLED");
    EXPECT_FALSE(FileExists(L"R:\\RECYCLED"));
}

TEST_F(Deletion, LinksInsideATreeAreNeverFollowed)
{
    const std::wstring tree = kLinkTree, link = tree + L"\\sub\\linked";
    ASSERT_TRUE(FileExists(kLinkTarget)) << "deletion_run.sh makes the tree";
    EXPECT_FALSE(ShellDelete((tree + std::wstring(1, L'\0')).c_str())) << "the shell would follow the link";
    EXPECT_FALSE(ShellDelete((link + L"\\precious.txt" + std::wstring(1, L'\0')).c_str()));
    EXPECT_TRUE(FileExists(tree + L"\\inner.txt"));
    EXPECT_FALSE(ShellDelete(L"\0\0"));
    EXPECT_TRUE(ShellDelete((tree + L"\\sub\\deeper.txt" + std::wstring(1, L'\0')).c_str()));
    EXPECT_FALSE(FileExists(tree + L"\\sub\\deeper.txt"));

    // Given as the folder, a link is refused.
    EXPECT_EQ(LoggedNukedir(link), (std::vector<std::string>{"Nukedir - Refused to delete directory " + Narrow(link)}));
    EXPECT_TRUE(FileExists(kLinkTarget));

    // A path the layer refuses asks for no restart, and no throw-away name is
    // made in the folder it names.
    const std::wstring throughLink = link + L"\\precious.txt";
    EXPECT_FALSE(RemoveFile(throughLink.c_str()));
    EXPECT_EQ(g_RebootNeeded, 0);
    EXPECT_EQ(PendingList::Position(throughLink), std::wstring::npos);
    WIN32_FIND_DATAW aside;
    EXPECT_FALSE(win::FindHandle(FindFirstFileW(L"C:\\zltest-deletion\\target\\uni*.tmp", &aside)));
    EXPECT_TRUE(FileExists(kLinkTarget));

    // Inside the tree, the link goes itself and its target keeps its content.
    // Wine cannot remove a folder link from Windows code (docs/wine.md): it
    // waits for the restart then, ahead of the folders that hold it.
    auto lines = LoggedNukedir(tree);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Nukedir - Not following link " + Narrow(link) + ", removing the link itself"),
              lines.end());
    EXPECT_TRUE(FileExists(kLinkTarget));
    EXPECT_FALSE(FileExists(tree + L"\\inner.txt"));
    if (FileExists(link)) {
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "Nukedir - Could not remove link " + Narrow(link) + ", adding to pending delete operations"),
                  lines.end());
        const size_t linkAt = PendingList::Position(link), subAt = PendingList::Position(tree + L"\\sub");
        ASSERT_NE(linkAt, std::wstring::npos) << "the link waits for the restart";
        EXPECT_EQ(g_RebootNeeded, 1) << "and asks for it";
        EXPECT_LT(linkAt, subAt);
        EXPECT_LT(subAt, PendingList::Position(tree));
    } else {
        EXPECT_FALSE(FileExists(tree)) << "with the link gone, its folders go";
    }
}

}  // namespace
