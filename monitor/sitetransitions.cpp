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

std::string UrlWithoutUserInfo(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return std::string(url);
    const size_t start = scheme + 3;
    const size_t end = url.find_first_of("/?#", start);
    const std::string_view authority =
        url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
}

std::string UrlWithMaskedPassword(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return std::string(url);
    const size_t start = scheme + 3;
    const size_t end = url.find_first_of("/?#", start);
    const std::string_view authority =
        url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return std::string(url);
    const size_t colon = authority.substr(0, at).find(':');
    if (colon == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, start + colon + 1)) + "***" +
           std::string(url.substr(start + at));
}
