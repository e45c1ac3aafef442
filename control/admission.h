// Who keeps an instance of the control pipe. The pipe has a fixed number of instances, and a
// client that says hello may stay silent as long as it likes (the companion does, between its
// status pushes), so without a rule a few users' idle connections would lock out everyone else,
// an administrator's stop included. The rule, portable so that it is tested as a table:
// - a user holds at most MaxConnectionsPerUser connections; a newcomer past that ends the same
//   user's connection idle longest (a companion that restarts is never shut out by its own
//   stale connections). An elevated administrator may stop the service anyway, so holding more
//   costs nobody anything;
// - one instance always listens: when the last free one is taken, a connection is ended to make
//   room, the one closing already first, then the idle longest of those not elevated (a client
//   whose user could not be read counts as such), then one with no work in flight; an elevated
//   administrator's connection only when every other one is an administrator's too.
// The users are read as they connect, so that the rule holds for clients that never say hello
// as well as for those that say it and fall silent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr std::size_t MaxConnectionsPerUser = 4;

// One instance of the pipe as the rule sees it.
struct PipePeer {
    bool Connected = false;       // false: free, or about to listen again
    bool Known = false;           // said hello; User and Administrator are read from its token
    std::string User;             // the token's user SID as text
    bool Administrator = false;   // an elevated administrator
    bool Busy = false;            // a request with the handler, or replies on their way
    bool Ending = false;          // closing after an error
    std::uint64_t LastActive = 0; // when it last sent a message or read a reply, in any order
};

// The connection to end when peers[newcomer] just connected and its user was read, or nothing.
std::optional<std::size_t> SameUserToEnd(const std::vector<PipePeer>& peers, std::size_t newcomer);
// The connection to end when peers[newcomer] just connected, so that one instance listens again;
// nothing while one is free.
std::optional<std::size_t> RoomToMake(const std::vector<PipePeer>& peers, std::size_t newcomer);
