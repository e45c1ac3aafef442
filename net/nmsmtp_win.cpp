#include "net/nmsmtp_win.h"

#include "net/nmuue.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <sstream>

namespace {

// Sets a flag for the scope and clears it on every way out; a flag that was set already is
// left to the scope that set it.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag), active_(!flag) { flag_ = true; }
    ~FlagScope() {
        if (active_)
            flag_ = false;
    }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool active_;
};

// The name EHLO introduces us with. A name a server could balk at is replaced by one every
// server takes.
std::string computerName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size) || size == 0)
        return "localhost";
    const std::string text(name, size);
    const bool usable = std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    });
    return usable ? text : "localhost";
}

std::string base64Of(const std::string& text) {
    TMemoryStream in;
    TMemoryStream out;
    in.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    TNMUUProcessor coder;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    coder.Method = uuMime;
    coder.Encode();
    // The coder writes mail body lines; a login token is one unbroken word.
    std::string coded = out.DataString();
    coded.erase(
        std::remove_if(coded.begin(), coded.end(), [](char c) { return c == '\r' || c == '\n'; }),
        coded.end());
    return coded;
}

void maskAll(std::string& text, const std::string& secret) {
    if (secret.empty())
        return;
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 3))
        text.replace(at, secret.size(), "***");
}

} // namespace

// ReadLn hands back an empty line when the server has closed the connection. Read as a reply
// number that is 0, which every limit of the dialogue lets through, so a server that hangs up
// in the middle of a mail would be reported as having accepted it.
void TNMSMTP::requireReply(const std::string& reply) {
    if (reply.empty())
        throw ESmtpError("Not Connected");
}

void TNMSMTP::ReadExtraLines(std::string& reply, ULONGLONG since, std::vector<std::string>* lines) {
    if (lines)
        lines->push_back(reply);
    std::size_t size = reply.size();
    while (!reply.empty() && (reply[0] == ' ' || (reply.size() > 3 && reply[3] == '-'))) {
        reply = ReadLnSince(since);
        size += reply.size();
        if (size > MaxReplySize)
            throw ESmtpError("Reply too long");
        if (lines)
            lines->push_back(reply);
    }
}

std::string TNMSMTP::command(const std::string& text, std::vector<std::string>* lines) {
    const ULONGLONG sent = GetTickCount64();
    const std::string reply = Transaction(text);
    requireReply(reply);
    std::string last = reply;
    ReadExtraLines(last, sent, lines);
    return reply;
}

void TNMSMTP::readGreeting() {
    const ULONGLONG connected = GetTickCount64();
    std::string greeting = ReadLn();
    requireReply(greeting);
    const std::string firstLine = greeting;
    ReadExtraLines(greeting, connected);
    LastReply = firstLine;
    ReplyNumber = ReplyNumberOf(firstLine);
    if (ReplyNumber >= 400)
        throw ESmtpError(firstLine);
}

void TNMSMTP::greet() {
    readGreeting();
    for (int attempt = 0;; ++attempt) {
        command("HELO " + UserID);
        if (ReplyNumber < 300)
            return;
        // The handler gets one chance to mend the user name.
        if (attempt > 0 || !Handled(OnAuthenticationFailed))
            throw ESmtpError("Authentication failed");
    }
}

void TNMSMTP::greetSecurely() {
    if (Security == 2)
        startTls();
    readGreeting();
    ehlo();
    if (Security == 1) {
        // Never carry on in plain text: that is what someone between us and the server who
        // strips the offer or refuses the command wants.
        if (!offersStartTls_)
            throw ESmtpError("server offers no STARTTLS");
        const std::string reply = command("STARTTLS");
        if (ReplyNumber != 220)
            throw ESmtpError(reply);
        startTls();
        // What was offered in plain text may have been forged; ask again.
        ehlo();
    }
    login();
}

void TNMSMTP::ehlo() {
    std::vector<std::string> lines;
    const std::string reply = command("EHLO " + computerName(), &lines);
    if (ReplyNumber >= 300)
        throw ESmtpError(reply);
    offersStartTls_ = false;
    authMechanisms_.clear();
    // The first line names the server; each further one is a keyword with its parameters.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].size() < 4)
            continue;
        std::string text = lines[i].substr(4);
        for (char& c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::istringstream words(text);
        std::string keyword;
        words >> keyword;
        if (keyword == "STARTTLS")
            offersStartTls_ = true;
        else if (keyword == "AUTH")
            for (std::string mechanism; words >> mechanism;)
                authMechanisms_.push_back(mechanism);
    }
}

void TNMSMTP::startTls() {
    try {
        StartTls(Host);
    } catch (...) {
        tlsBroken_ = true;
        throw;
    }
}

void TNMSMTP::login() {
    if (UserID.empty())
        return;
    if (!Encrypted())
        throw ESmtpError("no login over a connection that is not encrypted");
    const auto offered = [this](const char* mechanism) {
        return std::find(authMechanisms_.begin(), authMechanisms_.end(), mechanism) !=
               authMechanisms_.end();
    };
    if (offered("PLAIN")) {
        const std::string token = base64Of(std::string(1, '\0') + UserID + '\0' + Password);
        loginStep("AUTH PLAIN " + token, 235, token);
        return;
    }
    if (offered("LOGIN")) {
        loginStep("AUTH LOGIN", 334, "");
        loginStep(base64Of(UserID), 334, "");
        const std::string token = base64Of(Password);
        loginStep(token, 235, token);
        return;
    }
    throw ESmtpError("server offers neither AUTH PLAIN nor AUTH LOGIN");
}

void TNMSMTP::loginStep(const std::string& text, int wanted, const std::string& secret) {
    const std::string reply = command(text);
    if (ReplyNumber == wanted)
        return;
    std::string shown = reply;
    maskAll(shown, secret);
    maskAll(shown, Password);
    throw ESmtpError(shown);
}

void TNMSMTP::Connect() {
    // Checked before anything goes out: an unknown mode must not end up as plain text.
    if (Security < 0 || Security > 2)
        throw ESmtpError("Security must be 0 (none), 1 (STARTTLS) or 2 (TLS), not " +
                         std::to_string(Security));
    {
        FlagScope busy(Busy);
        TPowersock::Connect();
        // The message goes out as header, body and end mark in three sends that the server
        // does not answer one by one; with Nagle's rule each waits for the delayed ACK of the
        // one before it, about 40 ms apiece.
        const BOOL noDelay = TRUE;
        setsockopt(ThisSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        tlsBroken_ = false;
        try {
            if (Security == 0)
                greet();
            else
                greetSecurely();
        } catch (...) {
            // The caller learns why the handshake failed, not what went wrong saying QUIT.
            try {
                if (tlsBroken_)
                    TPowersock::Disconnect();
                else
                    Disconnect();
            } catch (const std::exception&) {
            }
            throw;
        }
    }
    if (OnConnect)
        OnConnect(this);
}

void TNMSMTP::Disconnect() {
    Canceled = false;
    try {
        // One line is enough: the socket closes next, and reading a flood of continuation
        // lines would hold a failed session for one more time-out.
        Transaction("QUIT");
        if (ReplyNumber > 339)
            throw ESmtpError(LastReply);
    } catch (...) {
        TPowersock::Disconnect();
        throw;
    }
    TPowersock::Disconnect();
}

void TNMSMTP::expectBelow(const std::string& text, int limit) {
    const std::string reply = command(text);
    if (ReplyNumber >= limit)
        throw ESmtpError(reply);
}

void TNMSMTP::checkHeader() {
    const auto complete = [this] {
        return !PostMessage->FromAddress.empty() &&
               (PostMessage->ToAddress.Count() > 0 || PostMessage->ToCarbonCopy.Count() > 0 ||
                PostMessage->ToBlindCarbonCopy.Count() > 0);
    };
    if (complete())
        return;
    bool handled = false;
    if (OnHeaderIncomplete)
        OnHeaderIncomplete(handled, PostMessage->FromAddress.empty() ? 1 : 2);
    if (!handled || !complete())
        throw ESmtpError("Incomplete Header");
}

void TNMSMTP::SendMail() {
    if (Busy)
        return;
    bool success = false;
    {
        FlagScope busy(Busy);
        AssembleMail();
        CertifyConnect();
        checkHeader();
        if (OnSendStart)
            OnSendStart(this);

        expectBelow("RSET", 400);
        expectBelow("MAIL FROM:<" + PostMessage->FromAddress + ">", 400);
        for (const TStringList* list : {&PostMessage->ToAddress, &PostMessage->ToCarbonCopy,
                                        &PostMessage->ToBlindCarbonCopy}) {
            // A handler may edit the lists; walk a copy of what was there when we started.
            const TStringList entries = *list;
            for (int i = 0; i < entries.Count(); ++i) {
                const std::string address = ExtractAddress(entries[i]);
                if (address.empty())
                    continue;
                command("RCPT TO:<" + address + ">");
                if (ReplyNumber > 300 && OnRecipientNotFound)
                    OnRecipientNotFound(entries[i]);
            }
        }
        expectBelow("DATA", 400);

        Write(FinalHeader->Text() + "\r\n\r\n");
        SendStream(*BodyStream);

        const std::string reply = command(".");
        if (ReplyNumber >= 400) {
            if (OnFailure)
                OnFailure(this);
            throw ESmtpError(reply);
        }
        success = true;
        if (ClearParams)
            ClearParameters();
    }
    if (success && OnSuccess)
        OnSuccess(this);
}

bool TNMSMTP::Verify(const std::string& name) {
    CertifyConnect();
    command("VRFY " + name);
    return ReplyNumber <= 251;
}

bool TNMSMTP::ExpandList(const std::string& name) {
    if (Busy)
        return false;
    FlagScope busy(Busy);
    CertifyConnect();
    const std::string reply = command("EXPN " + name);
    if (ReplyNumber >= 400)
        return false;
    if (OnMailListReturn)
        OnMailListReturn(reply);
    return true;
}

std::string TNMSMTP::ExtractAddress(const std::string& entry) {
    if (entry.find('<') != std::string::npos)
        return NthWord(NthWord(entry, '<', 2), '>', 1);
    if (entry.find(':') != std::string::npos)
        return NthWord(entry, ':', 2);
    return entry;
}
