// Runs in a process of its own: the boundary generator starts from its seed only once.
#include "mail_support.h"
#include "net/mailassembly.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(Boundary, FirstThreeMultipartMailsAfterStartAreAlwaysTheSame) {
    const std::string path = TempPath("boundary.bin");
    WriteFile(path, "x");
    TMailAssembly m;
    m.PostMessage->Attachments.Add(path);
    std::vector<std::string> boundaries;
    for (int i = 0; i < 3; ++i) {
        m.AssembleMail();
        boundaries.push_back(m.Boundary);
    }
    std::remove(path.c_str());
    EXPECT_EQ(boundaries, (std::vector<std::string>{"====================54535aavfgq====",
                                                    "====================54535hejkcl====",
                                                    "====================54535bvbhwj===="}));
}
