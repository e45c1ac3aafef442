#include "monitor/sitetransitions.h"

std::vector<SiteChange> SiteTransitions::Update(const CycleResults& results) {
    std::vector<SiteChange> changes;
    if (!results.Benchmark.Up || results.Urls.size() != results.Sites.size())
        return changes;
    std::map<std::string, Seen> next;
    for (size_t i = 0; i < results.Urls.size(); ++i) {
        const std::string& url = results.Urls[i];
        const ProbeResult& result = results.Sites[i];
        const bool warned = result.Up && !result.Warning.empty();
        // An address listed twice is one site to the outside: its first entry counts.
        if (!next.emplace(url, Seen{result.Up, warned}).second)
            continue;
        const auto before = seen_.find(url);
        const bool known = before != seen_.end();
        const bool changed = known ? before->second.Up != result.Up : !result.Up;
        if (changed)
            changes.push_back(
                {url, result, result.Up ? SiteChange::CameBack : SiteChange::WentDown});
        if (warned && !(known && before->second.Warned))
            changes.push_back({url, result, SiteChange::Warned});
    }
    seen_ = std::move(next);
    return changes;
}

namespace {

// Where the user part of a URL's authority stands: [start, at) before the "@" at at; npos
// for at when there is none.
struct UserInfo {
    size_t start = 0;
    size_t at = std::string_view::npos;
};
UserInfo userInfoOf(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    const size_t start = scheme + 3;
    const size_t end = url.find_first_of("/?#", start);
    const std::string_view authority =
        url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const size_t at = authority.rfind('@');
    return {start, at == std::string_view::npos ? at : start + at};
}

} // namespace

std::string UrlWithoutUserInfo(std::string_view url) {
    const UserInfo user = userInfoOf(url);
    if (user.at == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, user.start)) + std::string(url.substr(user.at + 1));
}

std::string UrlWithMaskedPassword(std::string_view url) {
    const UserInfo user = userInfoOf(url);
    if (user.at == std::string_view::npos)
        return std::string(url);
    const size_t colon = url.substr(user.start, user.at - user.start).find(':');
    if (colon == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, user.start + colon + 1)) + "***" +
           std::string(url.substr(user.at));
}
