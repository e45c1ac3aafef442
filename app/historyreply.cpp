#include "app/historyreply.h"

#include "monitor/sitetransitions.h"

MonitorHistory HistoryAnswer(const HistoryIndex& index, const std::vector<std::string>& urls,
                             const std::string& url, const std::string& span, CivilSeconds now) {
    const HistorySpan chosen = ParseHistorySpan(span).value_or(HistorySpan::Day);
    MonitorHistory answer;
    // A password in an address is never shown: the index finds a site by its masked address too.
    answer.Url = UrlWithMaskedPassword(url);
    answer.Span = HistorySpanText(chosen);
    answer.Now = now;
    for (const std::string& site : urls) {
        const auto percent = [&](HistorySpan s) { return index.Uptime(site, now, s).value_or(-1); };
        answer.Sites.push_back({UrlWithMaskedPassword(site), percent(HistorySpan::Day),
                                percent(HistorySpan::Week), percent(HistorySpan::Month)});
    }
    CivilSeconds step = 0;
    for (HistoryPoint& p : index.Points(url, now, chosen, step))
        answer.Points.push_back({p.Start, p.Milliseconds, p.Checks, p.Downs, std::move(p.Reason)});
    answer.Step = step;
    return answer;
}
