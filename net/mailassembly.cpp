#include "net/mailassembly.h"

#include "base/exception.h"
#include "base/text.h"
#include "net/nms_stream.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

std::uint32_t mailRandSeed = 0;

std::string joined(const TStringList& list) {
    std::string text;
    for (int i = 0; i < list.Count(); ++i) {
        if (i > 0)
            text += ',';
        text += list[i];
    }
    return text;
}

const char* contentType(TSubType subType) {
    switch (subType) {
    case mtEnriched:
        return "Content-Type: text/enriched; charset=";
    case mtSgml:
        return "Content-Type: text/sgml; charset=";
    case mtTabSeperated:
        return "Content-Type: text/tab-separated-values; charset=";
    case mtHtml:
        return "Content-Type: text/html; charset=";
    default:
        return "Content-Type: text/plain; charset=";
    }
}

std::string newBoundary() {
    std::string boundary = "====================54535";
    for (int i = 0; i < 6; ++i)
        boundary += static_cast<char>('a' + MailRandom(25));
    return boundary + "====";
}

// What a server may refuse as it stands: text beyond ASCII without 8BITMIME, and a line longer
// than the 998 characters SMTP allows (a long address beside a long reason or warning).
bool needsQuotedPrintable(const TStringList& lines) {
    for (int i = 0; i < lines.Count(); ++i) {
        std::size_t run = 0;
        for (char c : lines[i]) {
            if (static_cast<unsigned char>(c) >= 0x80)
                return true;
            run = c == '\r' || c == '\n' ? 0 : run + 1;
            if (run > 998)
                return true;
        }
    }
    return false;
}

// One line of text as quoted-printable lines of at most 76 characters, the last one hard, the
// others ending in a soft break. Blanks are kept but for one that ends a line, which a server
// may strip.
std::vector<std::string> quotedPrintable(std::string_view line) {
    static const char digits[] = "0123456789ABCDEF";
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        const bool literal =
            (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
        std::string piece = literal ? std::string(1, static_cast<char>(c))
                                    : std::string{'=', digits[c >> 4], digits[c & 15]};
        // The soft break's '=' takes the 76th place, unless this piece ends the line.
        if (out.back().size() + piece.size() > (last ? 76u : 75u)) {
            out.back() += '=';
            out.emplace_back();
        }
        out.back() += piece;
    }
    return out;
}

// Bytes the coder writes for size input bytes, at most: lines of up to 61 characters and CR LF,
// plus the closing line of uuencode.
std::int64_t encodedSizeBound(std::int64_t size) {
    return (size + 44) / 45 * 63 + 3;
}

} // namespace

int MailRandom(int range) {
    mailRandSeed = mailRandSeed * 134775813u + 1u;
    return static_cast<int>(
        (static_cast<std::uint64_t>(mailRandSeed) * static_cast<std::uint64_t>(range)) >> 32);
}

TMailAssembly::TMailAssembly()
    : PostMessage(std::make_unique<TPostMessage>()), FinalHeader(std::make_unique<TExStringList>()),
      BodyStream(std::make_unique<TMemoryStream>()) {}

void TMailAssembly::writeText(const std::string& text) {
    BodyStream->WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
}

void TMailAssembly::buildHeader() {
    const TPostMessage& m = *PostMessage;
    TExStringList& h = *FinalHeader;
    h.Clear();
    h.Add("From: " + m.FromName + "<" + m.FromAddress + ">");
    if (m.ToAddress.Count() > 0)
        h.Add("To: " + joined(m.ToAddress));
    if (m.ToCarbonCopy.Count() > 0)
        h.Add("CC: " + joined(m.ToCarbonCopy));
    h.SetValue("Subject", m.Subject);
    h.SetValue("X-Mailer", m.LocalProgram);
    if (!m.ReplyTo.empty())
        h.SetValue("Reply-To", m.ReplyTo);
    if (!m.Date.empty())
        h.SetValue("Date", m.Date);
    if (!m.MessageId.empty())
        h.SetValue("Message-ID", m.MessageId);
    h.Add("Mime-Version: 1.0");
    if (m.Attachments.Count() == 0) {
        h.Add(contentType(SubType) + textCharset());
        if (quoted_)
            h.Add("Content-Transfer-Encoding: quoted-printable");
        return;
    }
    Boundary = newBoundary();
    h.Add("Content-Type: multipart/mixed; boundary=\"" + Boundary + "\"");
}

// Every line end inside an entry (CR LF, CR or LF) breaks the line: each line is dot-stuffed
// and ends in CR LF, so that no line of the body can end the DATA phase early.
void TMailAssembly::writeBodyLines() {
    std::string out;
    const auto addLine = [&out](std::string_view line) {
        if (!line.empty() && line[0] == '.')
            out += '.';
        out.append(line);
        out += "\r\n";
    };
    const TStringList& body = PostMessage->Body;
    for (int e = 0; e < body.Count(); ++e) {
        const std::string& entry = body[e];
        size_t start = 0;
        for (;;) {
            const size_t end = std::min(entry.find_first_of("\r\n", start), entry.size());
            const std::string_view line(entry.data() + start, end - start);
            if (quoted_)
                for (const std::string& part : quotedPrintable(line))
                    addLine(part);
            else
                addLine(line);
            if (end == entry.size())
                break;
            start = end + 1;
            if (entry[end] == '\r' && start < entry.size() && entry[start] == '\n')
                ++start;
        }
    }
    writeText(out);
}

std::string TMailAssembly::textCharset() const {
    return quoted_ && Charset == "us-ascii" ? "utf-8" : Charset;
}

void TMailAssembly::AssembleMail() {
    // Text beyond ASCII (addresses of sites abroad, in the program's UTF-8) travels as
    // quoted-printable: it passes every server, also one greeted with HELO that names no
    // 8BITMIME, and the ASCII around it stays readable. Plain ASCII goes as it always did.
    quoted_ = needsQuotedPrintable(PostMessage->Body);
    buildHeader();
    BodyStream->Clear();
    const int attachments = PostMessage->Attachments.Count();
    if (attachments > 0)
        writeText("--" + Boundary + "\r\nContent-Type: text/plain; charset=" + textCharset() +
                  (quoted_ ? "\r\nContent-Transfer-Encoding: quoted-printable" : "") + "\r\n\r\n");
    writeBodyLines();
    if (attachments == 0)
        return;
    for (int i = 1; i <= attachments; ++i)
        SendAttachments(i);
    writeText("--" + Boundary + "--\r\n");
}

void TMailAssembly::SendAttachments(int index) {
    const std::string entry = PostMessage->Attachments[index - 1];
    const std::string name = FileNameOf(entry);
    BodyStream->Seek(0, soFromEnd);
    writeText("--" + Boundary + "\r\n" + "Content-Type: application/octet-stream; name=\"" + name +
              "\"\r\n" + "Content-Transfer-Encoding: base64\r\n" +
              "Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n");

    // The coder writes straight onto the end of the body through a buffer: an intermediate
    // copy of the encoded text would double the memory and the time of a large attachment.
    // On a failure the part stays unfinished, and the failed assembly is never sent.
    TNMUUProcessor coder;
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(entry, fmOpenRead | fmShareDenyNone);
    } catch (const EFOpenError&) {
        if (OnAttachmentNotFound)
            OnAttachmentNotFound(entry);
        throw;
    }
    BodyStream->SetCapacity(BodyStream->Size() + encodedSizeBound(file->Size()) +
                            static_cast<std::int64_t>(Boundary.size()) + 8);
    {
        // Read through a buffer too: the coder asks for 45 bytes at a time.
        TS_BufferStream input(*file);
        TS_BufferStream output(*BodyStream);
        coder.InputStream = &input;
        coder.OutputStream = &output;
        // The part header says base64, so the part is Base64 whatever EncodeType says: a
        // uuencoded part under that header reaches the reader as garbage.
        coder.Method = uuMime;
        if (OnEncodeStart)
            OnEncodeStart(entry);
        coder.Encode();
        if (OnEncodeEnd)
            OnEncodeEnd(entry);
    }
    BodyStream->Seek(0, soFromEnd);
}

void TMailAssembly::ClearParameters() {
    PostMessage->ToAddress.Clear();
    PostMessage->ToCarbonCopy.Clear();
    PostMessage->ToBlindCarbonCopy.Clear();
    PostMessage->Attachments.Clear();
}

void TMailAssembly::SetFinalHeader(const TStringList& lines) {
    FinalHeader->Clear();
    for (int i = 0; i < lines.Count(); ++i)
        FinalHeader->Add(lines[i]);
}
