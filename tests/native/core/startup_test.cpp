// The portable start-up decisions: the "-vsync" option and the folder of a
// program path.
#include <gtest/gtest.h>

#include "startup.h"

namespace {

TEST(Vsync, OnlyTheExactWordAnywhereCounts) {
    struct Case {
        std::vector<std::string> args;
        bool vsync;
    } cases[] = {
        {{}, false},
        {{"C:\\Games\\QuorlenZiradeva.exe"}, false},
        {{"QuorlenZiradeva.exe", "-vsync"}, true},
        {{"QuorlenZiradeva.exe", "-windowed", "-vsync", "x"}, true},
        {{"-vsync"}, true},  // also as the program path itself
        {{"QuorlenZiradeva.exe", "-VSYNC"}, false},
        {{"QuorlenZiradeva.exe", "--vsync"}, false},
        {{"QuorlenZiradeva.exe", "-vsync "}, false},
        {{"QuorlenZiradeva.exe", "-vsync=1"}, false},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += "[" + a + "]";
        EXPECT_EQ(app::hasVsyncOption(c.args), c.vsync) << joined;
    }
    EXPECT_TRUE(app::isVsyncOption("-vsync"));
    EXPECT_FALSE(app::isVsyncOption(""));
}

TEST(DirectoryOf, KeepsTheSeparatorOnlyAtARoot) {
    struct Case {
        const char* path;
        const char* folder;
    } cases[] = {
        {"C:\\Games\\Quorlen\\QuorlenZiradeva.exe", "C:\\Games\\Quorlen"},
        {"C:\\QuorlenZiradeva.exe", "C:\\"},
        {"\\\\server\\share\\QuorlenZiradeva.exe", "\\\\server\\share"},
        {"/home/player/QuorlenZiradeva.exe", "/home/player"},
        {"/QuorlenZiradeva.exe", "/"},
        {"QuorlenZiradeva.exe", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(app::directoryOf(c.path), c.folder) << c.path;
}

}  // namespace
