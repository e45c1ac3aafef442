// The settings file as the program holds it between reading and writing: its lines, in the
// encoding it came in. Only the keys the program sets are rewritten; comments, blank lines,
// unknown sections and keys, and the order of everything stay as the user left them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class IniEncoding { Utf8, Utf8Bom, Utf16Le, Ansi };

// The machine's ANSI code page, for files in neither UTF-8 nor UTF-16. Each direction answers
// nullopt for text it cannot convert without loss.
struct AnsiCodePage {
    std::function<std::optional<std::string>(std::string_view)> ToUtf8;
    std::function<std::optional<std::string>(std::string_view)> FromUtf8;
};

// A file larger than this is not a settings file a person wrote: it is refused unread.
constexpr std::size_t MaxIniFileSize = 16u << 20;

class IniDocument {
public:
    // A new, empty file: UTF-8 without a byte-order mark, lines ended by CR LF.
    IniDocument() = default;

    // The file's bytes: UTF-16 LE or UTF-8 after their byte-order marks, UTF-8 without one when
    // the bytes are well-formed UTF-8, the ANSI code page otherwise. Nullopt with error set when
    // the text cannot be decoded without loss.
    static std::optional<IniDocument> FromBytes(std::string_view bytes, const AnsiCodePage& ansi,
                                                std::string& error);
    // The bytes to write, in the encoding the file came in. A file read in the ANSI code page
    // that now holds a character the code page lacks is written as UTF-8 with a byte-order
    // mark instead, so that nothing turns into a question mark.
    std::string ToBytes(const AnsiCodePage& ansi) const;

    IniEncoding Encoding() const { return encoding_; }

    // The value of the first key of that name in any section of that name (names compare
    // without regard to case), blanks around it dropped.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Sets the first such key, drops later ones of the same name, or adds the key after the
    // last key of the first section of that name (a new section at the end of the file).
    // A key that already holds the value is left as written.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // Every entry line of every section of that name, in file order, blanks around each dropped:
    // key lines, and lines without "=" too. Comments and blank lines are no entries.
    std::vector<std::string> Entries(std::string_view section) const;
    // Replaces the entries of every section of that name by these lines, in the first such
    // section where its first entry stood; later headers of that name go, their comments stay.
    void SetEntries(std::string_view section, const std::vector<std::string>& entries);

    // The name of every section, in file order, each name once (its first spelling).
    std::vector<std::string> SectionNames() const;
    // Removes every section of that name, its header and its lines up to its last entry: the
    // comments after that entry usually speak of the next section, so they stay.
    void RemoveSection(std::string_view section);
    // Removes every key of that name from every section of that name.
    void RemoveKey(std::string_view section, std::string_view key);

    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::vector<std::string> lines_; // UTF-8, without line ends
    IniEncoding encoding_ = IniEncoding::Utf8;
    std::string lineEnd_ = "\r\n";
};
