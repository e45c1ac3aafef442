#include "net/mailassembly.h"

#include "base/exception.h"
#include "base/text.h"
#include "net/nms_stream.h"

#include <algorithm>

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
        h.Add(contentType(SubType) + Charset);
        return;
    }
    Boundary = newBoundary();
    h.Add("Content-Type: multipart/mixed; boundary=\"" + Boundary + "\"");
}

// Every line end inside an entry (CR LF, CR or LF) breaks the line: each line is dot-stuffed
// and ends in CR LF, so that no line of the body can end the DATA phase early.
void TMailAssembly::writeBodyLines() {
    std::string out;
    const TStringList& body = PostMessage->Body;
    for (int e = 0; e < body.Count(); ++e) {
        const std::string& entry = body[e];
        size_t start = 0;
        for (;;) {
            const size_t end = std::min(entry.find_first_of("\r\n", start), entry.size());
            if (end > start && entry[start] == '.')
                out += '.';
            out.append(entry, start, end - start);
            out += "\r\n";
            if (end == entry.size())
                break;
            start = end + 1;
            if (entry[end] == '\r' && start < entry.size() && entry[start] == '\n')
                ++start;
        }
    }
    writeText(out);
}

void TMailAssembly::AssembleMail() {
    buildHeader();
    BodyStream->Clear();
    const int attachments = PostMessage->Attachments.Count();
    if (attachments > 0)
        writeText("--" + Boundary + "\r\nContent-Type: text/plain; charset=" + Charset +
                  "\r\n\r\n");
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
