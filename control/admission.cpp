#include "control/admission.h"

#include <tuple>

namespace {

// The earlier in this order, the sooner ended.
auto rank(const PipePeer& p) {
    return std::make_tuple(!p.Ending, p.Known && p.Administrator, p.Busy, p.LastActive);
}

} // namespace

std::optional<std::size_t> SameUserToEnd(const std::vector<PipePeer>& peers, std::size_t newcomer) {
    if (newcomer >= peers.size() || peers[newcomer].Administrator)
        return std::nullopt;
    const std::string& user = peers[newcomer].User;
    std::size_t held = 0;
    std::optional<std::size_t> idlest;
    for (std::size_t i = 0; i < peers.size(); ++i) {
        const PipePeer& p = peers[i];
        if (i == newcomer || !p.Connected || !p.Known || p.User != user)
            continue;
        ++held;
        if (!idlest || rank(p) < rank(peers[*idlest]))
            idlest = i;
    }
    if (held < MaxConnectionsPerUser)
        return std::nullopt;
    return idlest;
}

std::optional<std::size_t> RoomToMake(const std::vector<PipePeer>& peers, std::size_t newcomer) {
    std::optional<std::size_t> idlest;
    for (std::size_t i = 0; i < peers.size(); ++i) {
        if (!peers[i].Connected)
            return std::nullopt;
        if (i != newcomer && (!idlest || rank(peers[i]) < rank(peers[*idlest])))
            idlest = i;
    }
    return idlest;
}
