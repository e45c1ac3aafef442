#include "base/paths.h"

#include <gtest/gtest.h>

TEST(Paths, FolderIsCutBeforeTheLastBackslash) {
    EXPECT_EQ(FolderOf("C:\\Program Files\\Vigrel\\Vigrel.exe"), "C:\\Program Files\\Vigrel");
    EXPECT_EQ(FolderOf("Vigrel.exe"), "Vigrel.exe");
    EXPECT_EQ(FolderOf("C:\\Vigrel.exe"), "C:");
}

TEST(Paths, ExtensionIsReplacedOnlyInTheFileName) {
    EXPECT_EQ(ChangeFileExt("C:\\a\\Vigrel.exe", ".INI"), "C:\\a\\Vigrel.INI");
    EXPECT_EQ(ChangeFileExt("C:\\a.b\\Vigrel", ".INI"), "C:\\a.b\\Vigrel.INI");
    EXPECT_EQ(ChangeFileExt("C:\\a\\x.tar.gz", ".INI"), "C:\\a\\x.tar.INI");
}
