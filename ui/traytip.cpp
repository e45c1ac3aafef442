#include "ui/traytip.h"

namespace {

// UTF-16 units of the character that starts with this UTF-8 byte: two for the four-byte forms,
// none for a continuation byte.
std::size_t unitsOf(unsigned char lead) {
    if ((lead & 0xC0) == 0x80)
        return 0;
    return lead >= 0xF0 ? 2 : 1;
}

} // namespace

std::string TrayTipText(const std::string& tip) {
    std::size_t units = 0;
    for (const char c : tip)
        units += unitsOf(static_cast<unsigned char>(c));
    if (units <= TrayTipCapacity)
        return tip;
    static const std::string mark = "...";
    // Whole characters only: a cut inside one would leave the shell an ill-formed rest.
    std::size_t end = 0;
    units = 0;
    for (; end < tip.size(); ++end) {
        const std::size_t next = unitsOf(static_cast<unsigned char>(tip[end]));
        if (next != 0 && units + next > TrayTipCapacity - mark.size())
            break;
        units += next;
    }
    std::string kept = tip.substr(0, end);
    // A CR without its LF would show as a stray box in some shells.
    while (!kept.empty() && (kept.back() == '\r' || kept.back() == '\n'))
        kept.pop_back();
    return kept + mark;
}

std::string MaintenanceLine(const std::string& words) {
    std::string line = words;
    if (!line.empty() && line[0] >= 'a' && line[0] <= 'z')
        line[0] = static_cast<char>(line[0] - 'a' + 'A');
    return line;
}

std::string TipWithMaintenance(const std::string& tip, const std::string& words) {
    if (words.empty())
        return tip;
    return tip.empty() ? MaintenanceLine(words) : MaintenanceLine(words) + "\r\n" + tip;
}

std::string TipWithWarnings(const std::string& tip, const std::vector<std::string>& warned) {
    if (warned.empty())
        return tip;
    // Lines as the failed sites' are: joined by CR LF.
    std::string text = tip;
    if (!text.empty())
        text += "\r\n";
    text += "Warnings:";
    for (const std::string& url : warned)
        text += "\r\n" + url;
    return text;
}
