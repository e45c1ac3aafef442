#include "ui/traytip.h"

std::string TrayTipText(const std::string& tip) {
    if (tip.size() <= TrayTipCapacity)
        return tip;
    static const std::string mark = "...";
    std::string kept = tip.substr(0, TrayTipCapacity - mark.size());
    // A CR without its LF would show as a stray box in some shells.
    while (!kept.empty() && (kept.back() == '\r' || kept.back() == '\n'))
        kept.pop_back();
    return kept + mark;
}
