// A mail as the SMTP client sends it: the message record, and its assembly into header lines
// and a body ready for the DATA phase (dot-stuffed, CR LF line ends, MIME parts for
// attachments encoded in Base64).
#pragma once

#include "base/tstream.h"
#include "base/tstringlist.h"
#include "net/nmextstr.h"
#include "net/nmuue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TPostMessage {
public:
    std::string FromName;
    std::string FromAddress; // used as is in the header and in MAIL FROM
    std::string Subject;
    std::string LocalProgram; // written as the X-Mailer header
    std::string Date;         // written unchanged; the caller formats it
    std::string MessageId;    // written unchanged as the Message-ID header when not empty
    std::string ReplyTo;
    // Recipient entries: a bare address, "Name <address>", or "prefix:address".
    TStringList ToAddress;
    TStringList ToCarbonCopy;
    TStringList ToBlindCarbonCopy;
    // One entry per line, without line ends; an entry that holds line ends is sent as the
    // lines it holds.
    TStringList Body;
    TStringList Attachments; // one file path per line

    void SetLinesTo(const TStringList& lines) { ToAddress = lines; }
    void SetLinesCC(const TStringList& lines) { ToCarbonCopy = lines; }
    void SetLinesBCC(const TStringList& lines) { ToBlindCarbonCopy = lines; }
    void SetLinesBody(const TStringList& lines) { Body = lines; }
    void SetLinesAttachments(const TStringList& lines) { Attachments = lines; }
};

enum TSubType : std::uint8_t { mtPlain, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

using TFileItem = std::function<void(const std::string& Filename)>;

// Next number from 0 to range - 1 of the process-wide generator that the boundaries draw on:
// seeded with 0 at start and never reseeded, so boundaries repeat from run to run.
int MailRandom(int range);

// What the SMTP client needs to turn its PostMessage into FinalHeader and BodyStream. The
// client derives from it; it is usable without any socket.
class TMailAssembly {
public:
    TMailAssembly();
    virtual ~TMailAssembly() = default;
    TMailAssembly(const TMailAssembly&) = delete;
    TMailAssembly& operator=(const TMailAssembly&) = delete;

    // Rebuilds FinalHeader and BodyStream from PostMessage. A missing attachment fires
    // OnAttachmentNotFound and raises EFOpenError.
    void AssembleMail();
    // Appends the MIME part of attachment number index (from 1) to BodyStream.
    void SendAttachments(int index);
    // Empties the recipient lists and the attachments; body and texts stay.
    void ClearParameters();
    void SetFinalHeader(const TStringList& lines);

    // Data members, never functions of these names: <windows.h> makes PostMessage a macro,
    // which renames a member consistently but would break the link of a member function.
    std::unique_ptr<TPostMessage> PostMessage;
    std::unique_ptr<TExStringList> FinalHeader;
    std::unique_ptr<TMemoryStream> BodyStream;
    std::string Boundary;
    TSubType SubType = mtPlain;
    // The text's character set; a body beyond ASCII is sent quoted-printable, and as utf-8
    // while this is still us-ascii.
    std::string Charset = "us-ascii";
    UUMethods EncodeType = uuMime;

    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TFileItem OnAttachmentNotFound;

private:
    void buildHeader();
    void writeBodyLines();
    void writeText(const std::string& text);
    std::string textCharset() const;

    bool quoted_ = false; // the body of the current assembly is quoted-printable
};
