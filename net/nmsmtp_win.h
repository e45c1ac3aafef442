// SMTP client: the command/reply dialogue of one mail submission on top of the socket client.
// Connect greets the server, SendMail assembles PostMessage and transfers it, and Disconnect
// says QUIT. Without Security the greeting is HELO with UserID and nothing else; with it the
// session is encrypted (STARTTLS, or TLS from the first byte) before EHLO and login.
// Every failure the client detects itself is raised as ESmtpError with a fixed text or with the
// server's reply line (line end included); the socket's own failures keep their classes.
#pragma once

// The socket client brings <windows.h>, whose PostMessage macro must rename the assembly's
// member of that name in every file that sees this header.
#include "net/psock_win.h"
#include "net/mailassembly.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

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
    TNMSMTP() { Port = 25; }
    ~TNMSMTP() override = default;

    // Fires once the greeting and HELO succeeded. It hides the socket-level event of the same
    // name, which stays unassigned so that a bare TCP connect is never mistaken for a session.
    TNotifyEvent OnConnect;
    std::string UserID;
    bool ClearParams = true;
    // 0: plain text, HELO UserID, no login. 1: STARTTLS, which the server must offer and grant.
    // 2: TLS from the first byte. With 1 or 2 and a UserID the client logs in with Password,
    // which never goes over a plain connection and never into a status text or exception.
    int Security = 0;
    std::string Password;

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

    // The envelope address of one recipient entry: what stands in angle brackets, else what
    // follows the first colon, else the entry itself. Spaces are kept.
    static std::string ExtractAddress(const std::string& entry);
    // Reads the continuation lines of a multi-line reply; reply ends as the last line read.
    // All lines must arrive within TimeOut counted from since (a GetTickCount64 reading: when
    // the command went out), and the whole reply within MaxReplySize bytes.
    // Every line read, the first included, is added to lines when given.
    void ReadExtraLines(std::string& reply, ULONGLONG since = GetTickCount64(),
                        std::vector<std::string>* lines = nullptr);

    static constexpr std::size_t MaxReplySize = 65536;

private:
    // Sends a command and reads its reply to the last line. LastReply and ReplyNumber stay
    // those of the first line, which is returned; no reply at all (the server hung up) raises.
    std::string command(const std::string& text, std::vector<std::string>* lines = nullptr);
    void readGreeting();
    void greet();
    // The greeting with Security 1 or 2: encryption, EHLO and login.
    void greetSecurely();
    // EHLO with this computer's name; keeps what the server offers.
    void ehlo();
    void startTls();
    void login();
    // Sends a step of the login and requires the reply number wanted; a refusal is raised
    // with the server's reply, with anything of the credentials it echoes masked.
    void loginStep(const std::string& text, int wanted, const std::string& secret);
    void checkHeader();
    void expectBelow(const std::string& text, int limit);
    void requireReply(const std::string& reply);

    // From the last EHLO reply: STARTTLS offered, and the AUTH mechanisms in upper case.
    bool offersStartTls_ = false;
    std::vector<std::string> authMechanisms_;
    // A TLS step failed: the connection carries nothing more, not even QUIT.
    bool tlsBroken_ = false;
};
