#include "inidocument.h"

#include "base/text.h"
#include "base/utf.h"

#include <set>

namespace {

const std::string_view Utf8Bom = "\xEF\xBB\xBF";
const std::string_view Utf16LeBom = "\xFF\xFE";
const std::string_view Utf16BeBom = "\xFE\xFF";

enum class LineKind { Blank, Comment, Header, Entry };

struct Line {
    LineKind kind;
    std::string name;  // section name of a header, key of an entry ("" when no "=")
    std::string value; // value of an entry with "="
    bool hasEquals = false;
};

Line classify(const std::string& raw) {
    const std::string text = TrimBlanks(raw);
    if (text.empty())
        return {LineKind::Blank, {}, {}};
    if (text[0] == ';' || text[0] == '#')
        return {LineKind::Comment, {}, {}};
    if (text[0] == '[') {
        const size_t close = text.find(']');
        return {
            LineKind::Header,
            TrimBlanks(text.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
            {}};
    }
    const size_t equals = text.find('=');
    if (equals == std::string::npos)
        return {LineKind::Entry, text, {}};
    return {LineKind::Entry, TrimBlanks(text.substr(0, equals)),
            TrimBlanks(text.substr(equals + 1)), true};
}

bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && SameText(std::string(a), std::string(b));
}

// Calls visit(index, line, inSection) for every line, inSection telling whether the line lies
// in a section of the given name (its header included).
template <typename Visit>
void walk(const std::vector<std::string>& lines, std::string_view section, Visit visit) {
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line line = classify(lines[i]);
        if (line.kind == LineKind::Header)
            inSection = same(line.name, section);
        visit(i, line, inSection);
    }
}

std::optional<std::string> utf16LeToUtf8(std::string_view bytes) {
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return Utf8FromUtf16(units);
}

std::optional<std::string> utf8ToUtf16Le(std::string_view text) {
    const std::optional<std::u16string> units = Utf16FromUtf8(text);
    if (!units)
        return std::nullopt;
    std::string bytes;
    bytes.reserve(units->size() * 2);
    for (char16_t unit : *units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

} // namespace

std::optional<IniDocument> IniDocument::FromBytes(std::string_view bytes, const AnsiCodePage& ansi,
                                                  std::string& error) {
    IniDocument doc;
    std::optional<std::string> text;
    if (bytes.substr(0, 2) == Utf16LeBom) {
        doc.encoding_ = IniEncoding::Utf16Le;
        text = utf16LeToUtf8(bytes.substr(2));
    } else if (bytes.substr(0, 2) == Utf16BeBom) {
        error = "it is in UTF-16 big-endian, which is not read";
        return std::nullopt;
    } else if (bytes.substr(0, 3) == Utf8Bom) {
        doc.encoding_ = IniEncoding::Utf8Bom;
        if (IsUtf8(bytes.substr(3)))
            text = std::string(bytes.substr(3));
    } else if (IsUtf8(bytes)) {
        text = std::string(bytes);
    } else {
        doc.encoding_ = IniEncoding::Ansi;
        if (ansi.ToUtf8)
            text = ansi.ToUtf8(bytes);
    }
    if (!text) {
        error = "its text is not well-formed in its encoding";
        return std::nullopt;
    }
    const size_t firstBreak = text->find('\n');
    if (firstBreak != std::string::npos)
        doc.lineEnd_ = firstBreak > 0 && (*text)[firstBreak - 1] == '\r' ? "\r\n" : "\n";
    size_t pos = 0;
    while (pos < text->size()) {
        size_t end = text->find('\n', pos);
        if (end == std::string::npos)
            end = text->size();
        std::string line = text->substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        doc.lines_.push_back(std::move(line));
        pos = end + 1;
    }
    return doc;
}

std::string IniDocument::ToBytes(const AnsiCodePage& ansi) const {
    std::string text;
    for (const std::string& line : lines_)
        text += line + lineEnd_;
    switch (encoding_) {
    case IniEncoding::Utf8:
        return text;
    case IniEncoding::Utf16Le:
        if (std::optional<std::string> bytes = utf8ToUtf16Le(text))
            return std::string(Utf16LeBom) + *bytes;
        break;
    case IniEncoding::Ansi:
        if (ansi.FromUtf8)
            if (std::optional<std::string> bytes = ansi.FromUtf8(text))
                return *bytes;
        break;
    case IniEncoding::Utf8Bom:
        break;
    }
    return std::string(Utf8Bom) + text;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    std::optional<std::string> found;
    walk(lines_, section, [&](size_t, const Line& line, bool inSection) {
        if (!found && inSection && line.kind == LineKind::Entry && line.hasEquals &&
            same(line.name, key))
            found = line.value;
    });
    return found;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::optional<size_t> first;
    std::vector<size_t> later;
    std::optional<size_t> header;
    walk(lines_, section, [&](size_t i, const Line& line, bool inSection) {
        if (!inSection)
            return;
        if (line.kind == LineKind::Header && !header)
            header = i;
        if (line.kind == LineKind::Entry && line.hasEquals && same(line.name, key)) {
            if (first)
                later.push_back(i);
            else
                first = i;
        }
    });
    // The key's own spelling stays; only what follows "=" changes.
    if (first) {
        for (auto it = later.rbegin(); it != later.rend(); ++it)
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*it));
        const Line line = classify(lines_[*first]);
        if (line.value != value)
            lines_[*first] = line.name + "=" + std::string(value);
        return;
    }
    const std::string newLine = std::string(key) + "=" + std::string(value);
    if (!header) {
        if (!lines_.empty() && !TrimBlanks(lines_.back()).empty())
            lines_.emplace_back();
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(newLine);
        return;
    }
    // After the last entry of the first section of that name, or right after its header.
    size_t at = *header;
    for (size_t i = *header + 1; i < lines_.size(); ++i) {
        const LineKind kind = classify(lines_[i]).kind;
        if (kind == LineKind::Header)
            break;
        if (kind == LineKind::Entry)
            at = i;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at + 1), newLine);
}

std::vector<std::string> IniDocument::Entries(std::string_view section) const {
    std::vector<std::string> entries;
    walk(lines_, section, [&](size_t i, const Line& line, bool inSection) {
        if (inSection && line.kind == LineKind::Entry)
            entries.push_back(TrimBlanks(lines_[i]));
    });
    return entries;
}

void IniDocument::SetEntries(std::string_view section, const std::vector<std::string>& entries) {
    std::vector<bool> drop(lines_.size(), false);
    std::optional<size_t> header;
    std::optional<size_t> insertAt;
    bool inFirst = false; // the new entries go nowhere but into the first such section
    walk(lines_, section, [&](size_t i, const Line& line, bool inSection) {
        if (line.kind == LineKind::Header)
            inFirst = inSection && !header;
        if (!inSection)
            return;
        if (line.kind == LineKind::Header) {
            if (header)
                drop[i] = true;
            else
                header = i;
        }
        if (line.kind == LineKind::Entry) {
            drop[i] = true;
            if (!insertAt && inFirst)
                insertAt = i;
        }
    });
    if (!header) {
        if (entries.empty())
            return;
        if (!lines_.empty() && !TrimBlanks(lines_.back()).empty())
            lines_.emplace_back();
        lines_.push_back("[" + std::string(section) + "]");
        lines_.insert(lines_.end(), entries.begin(), entries.end());
        return;
    }
    if (!insertAt) {
        // After the first section's last line that is not blank.
        size_t firstSectionEnd = *header + 1;
        for (size_t i = *header + 1; i < lines_.size(); ++i) {
            const LineKind kind = classify(lines_[i]).kind;
            if (kind == LineKind::Header)
                break;
            if (kind != LineKind::Blank)
                firstSectionEnd = i + 1;
        }
        insertAt = firstSectionEnd;
    }
    std::vector<std::string> result;
    result.reserve(lines_.size() + entries.size());
    for (size_t i = 0; i <= lines_.size(); ++i) {
        if (i == *insertAt)
            result.insert(result.end(), entries.begin(), entries.end());
        if (i < lines_.size() && !drop[i])
            result.push_back(std::move(lines_[i]));
    }
    lines_ = std::move(result);
}

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> names;
    // Names compare without regard to case; a file of thousands of sections is looked through
    // once.
    const auto before = [](const std::string& a, const std::string& b) {
        return CompareText(a, b) < 0;
    };
    std::set<std::string, decltype(before)> known(before);
    for (const std::string& raw : lines_) {
        const Line line = classify(raw);
        if (line.kind == LineKind::Header && known.insert(line.name).second)
            names.push_back(line.name);
    }
    return names;
}

void IniDocument::RemoveSection(std::string_view section) {
    std::vector<bool> drop(lines_.size(), false);
    std::optional<size_t> start;
    // A section's lines go from its header to its last entry.
    const auto close = [&](size_t lastEntry) {
        for (size_t i = *start; i <= lastEntry; ++i)
            drop[i] = true;
        start.reset();
    };
    size_t lastEntry = 0;
    walk(lines_, section, [&](size_t i, const Line& line, bool inSection) {
        if (line.kind == LineKind::Header) {
            if (start)
                close(lastEntry);
            if (inSection)
                start = lastEntry = i;
        } else if (start && line.kind == LineKind::Entry) {
            lastEntry = i;
        }
    });
    if (start)
        close(lastEntry);
    std::vector<std::string> kept;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (drop[i])
            continue;
        // A blank line that separated the section from what came before goes with it.
        const bool blank = TrimBlanks(lines_[i]).empty();
        if (blank && i > 0 && drop[i - 1] && (kept.empty() || TrimBlanks(kept.back()).empty()))
            continue;
        kept.push_back(std::move(lines_[i]));
    }
    lines_ = std::move(kept);
}

void IniDocument::RemoveKey(std::string_view section, std::string_view key) {
    std::vector<bool> drop(lines_.size(), false);
    walk(lines_, section, [&](size_t i, const Line& line, bool inSection) {
        drop[i] =
            inSection && line.kind == LineKind::Entry && line.hasEquals && same(line.name, key);
    });
    std::vector<std::string> kept;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (!drop[i])
            kept.push_back(std::move(lines_[i]));
    lines_ = std::move(kept);
}
