#include "platform/classesroot/memory.h"

#include <gtest/gtest.h>

using classesroot::MemoryRoot;

TEST(MemoryRoot, KeysMatchWithoutCaseAndDeleteWithSubKeys) {
    MemoryRoot r;
    r.WriteValue("QRVE.File\\shell\\open\\command", "", "x");
    r.WriteValue("qrve.file", "", "desc");
    r.WriteValue("QRVE.Filer", "", "other");
    EXPECT_EQ(r.ReadValue("QRVE.FILE\\Shell\\Open\\Command", ""), "x");
    r.DeleteKey("QRVE.File");
    EXPECT_FALSE(r.KeyExists("QRVE.File"));
    EXPECT_FALSE(r.KeyExists("QRVE.File\\shell\\open\\command"));
    EXPECT_EQ(r.ReadValue("QRVE.Filer", ""), "other");
}

TEST(MemoryRoot, SharedKeysAndRefusedWrites) {
    MemoryRoot r;
    r.Share(".mp2", ".mp3");
    r.WriteValue(".MP2", "", "QRVE.File");
    EXPECT_EQ(r.ReadValue(".mp3", ""), "QRVE.File");
    EXPECT_EQ(r.Identity(".mp2"), r.Identity(".mp3"));
    r.RefuseWrites(".wav");
    int before = r.Changes();
    EXPECT_THROW(r.WriteValue(".wav", "", "x"), classesroot::Error);
    EXPECT_THROW(r.CreateKey(".wav"), classesroot::Error);
    EXPECT_EQ(r.Changes(), before);
    EXPECT_FALSE(r.ReadValue(".wav", ""));
}
