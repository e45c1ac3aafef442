// Who keeps an instance of the control pipe, as a table: the Win32 server only reads the tokens
// and ends the connection this names.
#include "control/admission.h"

#include <gtest/gtest.h>

namespace {

PipePeer user(const std::string& sid, std::uint64_t lastActive, bool admin = false) {
    PipePeer p;
    p.Connected = p.Known = true;
    p.User = sid;
    p.Administrator = admin;
    p.LastActive = lastActive;
    return p;
}

PipePeer anonymous(std::uint64_t lastActive) {
    PipePeer p;
    p.Connected = true;
    p.LastActive = lastActive;
    return p;
}

} // namespace

TEST(PipeAdmission, AUserPastFourConnectionsEndsItsOwnIdleLongest) {
    // Slot 5 is the newcomer; another user's idler (slot 0) is none of its business.
    std::vector<PipePeer> peers = {user("B", 1), user("A", 9),  user("A", 3), user("A", 5),
                                   user("A", 7), user("A", 10), PipePeer()};
    EXPECT_EQ(SameUserToEnd(peers, 5), 2u);
    peers[2].Busy = true; // work in flight is kept if another one is idle
    EXPECT_EQ(SameUserToEnd(peers, 5), 3u);
    peers[4].Connected = false; // three besides the newcomer: all may stay
    EXPECT_EQ(SameUserToEnd(peers, 5), std::nullopt);
    // An elevated administrator is not counted against.
    std::vector<PipePeer> admins(6, user("S-1-5-21-1", 1, true));
    EXPECT_EQ(SameUserToEnd(admins, 5), std::nullopt);
}

TEST(PipeAdmission, WhenTheLastInstanceIsTakenTheRightConnectionMakesRoom) {
    struct Case {
        const char* what;
        std::vector<PipePeer> peers; // the last one is the newcomer
        std::optional<std::size_t> ended;
    };
    PipePeer ending = user("B", 8);
    ending.Ending = true;
    PipePeer busyOld = user("B", 1);
    busyOld.Busy = true;
    const std::vector<Case> cases = {
        {"one free: nobody goes", {user("A", 1), PipePeer(), anonymous(9)}, std::nullopt},
        {"the idle longest", {user("A", 5), user("B", 2), user("C", 4), anonymous(9)}, 1},
        {"one whose user could not be read counts as anyone",
         {user("A", 5), anonymous(3), user("B", 9)},
         1},
        {"an administrator stays while others are there",
         {user("S", 1, true), user("A", 4), user("B", 6), user("S", 9, true)},
         1},
        {"administrators only: the idle longest of them",
         {user("S", 6, true), user("S", 2, true), user("S", 9, true)},
         1},
        {"one closing already goes first", {user("A", 1), ending, user("C", 9)}, 1},
        {"work in flight is kept while one is idle", {busyOld, user("C", 5), user("D", 9)}, 1},
        {"the newcomer itself never", {user("A", 5), anonymous(0)}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RoomToMake(c.peers, c.peers.size() - 1), c.ended) << c.what;
}
