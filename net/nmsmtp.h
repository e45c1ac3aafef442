// SMTP client: the command/reply dialogue of one mail submission on top of the socket client.
// Connect greets the server with HELO, SendMail assembles PostMessage and transfers it, and
// Disconnect says QUIT. There is no authentication command: UserID is only HELO's argument.
// Every failure the client detects itself is raised as ESmtpError with a fixed text or with the
// server's reply line (line end included); the socket's own failures keep their classes.
#pragma once

// The socket client brings <windows.h>, whose PostMessage macro must rename the assembly's
// member of that name in every file that sees this header.
#include "net/psock.h"
#include "net/mailassembly.h"

#include <cstddef>
#include <functional>
#include <string>

// A failure of the SMTP dialogue: a refusing reply, a reply too long, a server that hung up, an
// incomplete header or a HELO the handler could not mend.
class ESmtpError : public Exception {
public:
    using Exception::Exception;
};

using TRecipientNotFound = std::function<void(const std::string& Recipient)>;
// hiType: 1 no sender, 2 no recipient.
using THeaderInComplete = std::function<void(bool& handled, int hiType)>;
using TMailListReturn = std::function<void(const std::string& MailAddress)>;

class TNMSMTP : public TPowersock, public TMailAssembly {
public:
    TNMSMTP();
    ~TNMSMTP() override;

    // Fires once the greeting and HELO succeeded. It hides the socket-level event of the same
    // name, which stays unassigned so that a bare TCP connect is never mistaken for a session.
    TNotifyEvent OnConnect;
    std::string UserID;
    bool ClearParams = true;

    TRecipientNotFound OnRecipientNotFound;
    THeaderInComplete OnHeaderIncomplete;
    TNotifyEvent OnSendStart;
    TNotifyEvent OnSuccess;
    TNotifyEvent OnFailure;
    TMailListReturn OnMailListReturn;
    THandlerEvent OnAuthenticationFailed;

    // Set while Connect, SendMail or ExpandList runs; the waits pump messages, so an event
    // handler could otherwise start a second dialogue in the middle of the first.
    bool Busy = false;

    void Connect() override;
    void Disconnect() override;
    void SendMail();
    bool Verify(const std::string& name);
    bool ExpandList(const std::string& name);
    void Abort() override;

    // The envelope address of one recipient entry: what stands in angle brackets, else what
    // follows the first colon, else the entry itself. Spaces are kept.
    static std::string ExtractAddress(const std::string& entry);
    // Reads the continuation lines of a multi-line reply; reply ends as the last line read.
    // All lines must arrive within TimeOut counted from since (a GetTickCount64 reading: when
    // the command went out), and the whole reply within MaxReplySize bytes.
    void ReadExtraLines(std::string& reply, ULONGLONG since = GetTickCount64());

    static constexpr std::size_t MaxReplySize = 65536;

private:
    // Sends a command and reads its reply to the last line. LastReply and ReplyNumber stay
    // those of the first line, which is returned.
    std::string command(const std::string& text);
    void greet();
    void checkHeader();
    void expectBelow(const std::string& text, int limit);
    void requireReply(const std::string& reply);
};
