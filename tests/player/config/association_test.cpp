#include "platform/classesroot/memory.h"
#include "player/config/Extention.h"
#include "player/config/Tool.h"
#include "tests/player/config/fake_list.h"

#include <gtest/gtest.h>

namespace {

struct Association : ::testing::Test {
    classesroot::MemoryRoot root;
    TTool tool{"/nonexistent/zarnplayer.ini"};
    void SetUp() override { tool.SetClassesRoot(&root); }
    std::optional<std::string> Default(const char* key) { return root.ReadValue(key, ""); }
    std::optional<std::string> Back(const char* key) { return root.ReadValue(key, "QRVE_Back"); }
};

} // namespace

TEST_F(Association, AssociatingTwiceKeepsTheFirstBackup) {
    root.WriteValue(".mp3", "", "Other.File");
    tool.AssociateExtension(".mp3", "QRVE.File");
    tool.AssociateExtension(".mp3", "QRVE.File");
    EXPECT_EQ(Default(".mp3"), "QRVE.File");
    EXPECT_EQ(Back(".mp3"), "Other.File");
    tool.RestoreExtension(".mp3");
    EXPECT_EQ(Default(".mp3"), "Other.File");
    EXPECT_FALSE(Back(".mp3"));
}

TEST_F(Association, NoEarlierDefaultRestoresToEmptyNotMissing) {
    tool.AssociateExtension(".wav", "QRVE.File");
    EXPECT_EQ(Back(".wav"), "");
    tool.RestoreExtension(".wav");
    EXPECT_EQ(Default(".wav"), "");
    EXPECT_FALSE(Back(".wav"));
}

TEST_F(Association, RestoreWithoutBackupOrKeyChangesNothing) {
    root.WriteValue(".avi", "", "Other.File");
    int before = root.Changes();
    tool.RestoreExtension(".avi");
    tool.RestoreExtension(".mov");
    EXPECT_EQ(root.Changes(), before);
    EXPECT_FALSE(root.KeyExists(".mov"));
    EXPECT_EQ(Default(".avi"), "Other.File");
}

TEST_F(Association, FileTypeLayoutAndItsDeletion) {
    tool.RegisterProgId("QRVE.File", "/usr/bin/zarnplayer,0", "QRVE Media File",
                        "/usr/bin/zarnplayer");
    EXPECT_EQ(root.Notifications(), 1);
    EXPECT_EQ(Default("QRVE.File"), "QRVE Media File");
    EXPECT_EQ(Default("QRVE.File\\DefaultIcon"), "/usr/bin/zarnplayer,0");
    EXPECT_EQ(Default("QRVE.File\\shell\\open\\command"), "/usr/bin/zarnplayer \"%1\"");
    tool.DeleteClassKey("QRVE.File");
    EXPECT_FALSE(root.KeyExists("QRVE.File\\shell\\open\\command"));
    EXPECT_EQ(root.Notifications(), 2);
    tool.DeleteClassKey("QRVE.File");
    EXPECT_EQ(root.Notifications(), 2);
}

TEST_F(Association, TableStartCreatesMissingKeysAndReadsTheAssociation) {
    root.WriteValue(".wav", "", "QRVE.File");
    root.WriteValue(".avi", "", "QRVE.File.Old");
    TExtentions table(tool);
    EXPECT_EQ(root.KeyCount(), 29u);
    EXPECT_EQ(Default(".mp3"), std::nullopt);
    for (int i = 0; i < table.Count(); ++i)
        EXPECT_EQ(table[i].Registered, table[i].Extension == ".wav") << table[i].Extension;
}

TEST_F(Association, FillShowsEveryRowAndItsState) {
    root.WriteValue(".mp3", "", "QRVE.File");
    TExtentions table(tool);
    FakeList list;
    table.Fill(list);
    ASSERT_EQ(list.rows.size(), 29u);
    EXPECT_EQ(list.rows[9].caption, ".mp3");
    EXPECT_EQ(list.rows[9].explanation, "Audio Files");
    EXPECT_TRUE(list.rows[9].checked);
    EXPECT_FALSE(list.rows[8].checked);
    EXPECT_EQ(list.rows[9].ext, &table[9]);
    EXPECT_EQ(table[9].Row, 9);
    table.Detach(list);
    EXPECT_EQ(table[9].Row, -1);
}

TEST_F(Association, TickingAndUntickingOverAnotherProgram) {
    root.WriteValue(".mp3", "", "Other.File");
    TExtentions table(tool);
    FakeList list;
    table.Fill(list);
    list.Tick(".mp3", true);
    table.Apply();
    EXPECT_TRUE(table[9].Registered);
    EXPECT_EQ(Default(".mp3"), "QRVE.File");
    EXPECT_EQ(Back(".mp3"), "Other.File");
    std::string program = TExtentions::ProgramFile();
    EXPECT_EQ(Default("QRVE.File"), "QRVE Media File");
    EXPECT_EQ(Default("QRVE.File\\DefaultIcon"), program + ",0");
    EXPECT_EQ(Default("QRVE.File\\shell\\open\\command"), program + " \"%1\"");

    list.Tick(".mp3", false);
    table.Apply();
    EXPECT_FALSE(table[9].Registered);
    EXPECT_EQ(Default(".mp3"), "Other.File");
    EXPECT_FALSE(Back(".mp3"));
    EXPECT_FALSE(root.KeyExists("QRVE.File"));
}

TEST_F(Association, UntickingOneOfTwoKeepsTheFileType) {
    TExtentions table(tool);
    FakeList list;
    table.Fill(list);
    list.Tick(".mp3", true);
    list.Tick(".avi", true);
    table.Apply();
    list.Tick(".mp3", false);
    int notified = root.Notifications();
    table.Apply();
    EXPECT_TRUE(root.KeyExists("QRVE.File"));
    EXPECT_EQ(Default(".avi"), "QRVE.File");
    EXPECT_EQ(Default(".mp3"), "");
    EXPECT_EQ(root.Notifications(), notified);
}

TEST_F(Association, OkWithoutChangesWritesNothingWhileSomethingIsAssociated) {
    root.WriteValue(".avi", "", "Other.File");
    TExtentions table(tool);
    FakeList list;
    table.Fill(list);
    list.Tick(".avi", true);
    table.Apply();
    int changes = root.Changes(), notified = root.Notifications();
    table.Apply();
    table.Apply();
    EXPECT_EQ(root.Changes(), changes);
    EXPECT_EQ(root.Notifications(), notified);
    EXPECT_EQ(Back(".avi"), "Other.File");
}

TEST_F(Association, OkWithNothingAssociatedDeletesALeftOverFileType) {
    root.WriteValue("QRVE.File\\shell\\open\\command", "", "old \"%1\"");
    TExtentions table(tool);
    FakeList list;
    table.Fill(list);
    table.Apply();
    EXPECT_FALSE(root.KeyExists("QRVE.File"));
    EXPECT_FALSE(root.KeyExists("QRVE.File\\shell\\open\\command"));
    EXPECT_EQ(Default(".mp3"), std::nullopt);
}

TEST_F(Association, RowsTheRootKeepsAsOneChangeTogether) {
    root.Share(".mpa", ".mp3");
    root.Share(".mp2", ".mp3");
    root.WriteValue(".mp3", "", "Other.File");
    TExtentions table(tool);
    EXPECT_EQ(table.Linked(9), (std::vector<int>{7, 8}));
    EXPECT_TRUE(table.Linked(0).empty());
    EXPECT_EQ(table.Explanation(8), "Audio Files (with .mpa, .mp3)");
    FakeList list;
    table.Fill(list);
    EXPECT_EQ(list.rows[9].explanation, "Audio Files (with .mpa, .mp2)");
    list.Tick(".mp2", true); // only one of the three, as a plain list would
    table.Apply();
    EXPECT_TRUE(table[7].Registered && table[8].Registered && table[9].Registered);
    EXPECT_EQ(Back(".mp3"), "Other.File");
    // A new list shows the three ticked; unchanged, nothing is written.
    table.Fill(list);
    EXPECT_TRUE(list.rows[7].checked && list.rows[8].checked && list.rows[9].checked);
    int changes = root.Changes();
    table.Apply();
    EXPECT_EQ(root.Changes(), changes);
    list.Tick(".mpa", false);
    list.Tick(".mp3", false);
    table.Apply();
    EXPECT_TRUE(table[9].Registered) << "one row still ticked keeps the type";
    EXPECT_EQ(root.Changes(), changes);
    list.Tick(".mp2", false);
    table.Apply();
    EXPECT_FALSE(table[7].Registered || table[8].Registered || table[9].Registered);
    EXPECT_EQ(Default(".mp2"), "Other.File");
}

TEST_F(Association, ARefusedWriteEndsApplyAtThatRow) {
    TExtentions table(tool);
    root.RefuseWrites(".wav");
    FakeList list;
    table.Fill(list);
    list.Tick(".avi", true);
    list.Tick(".wav", true);
    list.Tick(".mp3", true);
    EXPECT_THROW(table.Apply(), classesroot::Error);
    EXPECT_TRUE(table[0].Registered);
    EXPECT_EQ(Default(".avi"), "QRVE.File");
    EXPECT_FALSE(table[6].Registered);
    EXPECT_FALSE(table[9].Registered);
    EXPECT_EQ(Default(".mp3"), std::nullopt);
    EXPECT_FALSE(root.KeyExists("QRVE.File"));
    // Once the write goes through, the pass picks up where it stopped.
    root = classesroot::MemoryRoot();
    root.WriteValue(".avi", "", "QRVE.File");
    root.WriteValue(".avi", "QRVE_Back", "");
    table.Apply();
    EXPECT_TRUE(table[6].Registered && table[9].Registered);
    EXPECT_EQ(Back(".avi"), "");
    EXPECT_TRUE(root.KeyExists("QRVE.File"));
}

TEST_F(Association, UntickingARowThatLostItsBackupClearsIt) {
    root.WriteValue(".wav", "", "QRVE.File");
    TExtentions table(tool);
    FakeList list;
    table.Fill(list);
    list.Tick(".wav", false);
    table.Apply();
    EXPECT_EQ(Default(".wav"), "");
    EXPECT_FALSE(table[6].Registered);
    TExtentions again(tool);
    EXPECT_FALSE(again[6].Registered);
}

TEST_F(Association, ApplyWithoutAFilledListDoesNothing) {
    TExtentions table(tool);
    int changes = root.Changes();
    table.Apply();
    FakeList list;
    table.Fill(list);
    table.Detach(list);
    table.Apply();
    EXPECT_EQ(root.Changes(), changes);
}
