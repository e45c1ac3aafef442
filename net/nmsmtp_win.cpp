#include "net/nmsmtp.h"

#include <exception>

namespace {

// Clears a flag on every way out of the scope that set it.
class FlagScope {
public:
    FlagScope(bool& flag, bool active) : flag_(flag), active_(active) {
        if (active_)
            flag_ = true;
    }
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

} // namespace

TNMSMTP::TNMSMTP() {
    Port = 25;
}

TNMSMTP::~TNMSMTP() = default;

// ReadLn hands back an empty line when the server has closed the connection. Read as a reply
// number that is 0, which every limit of the dialogue lets through, so a server that hangs up
// in the middle of a mail would be reported as having accepted it.
void TNMSMTP::requireReply(const std::string& reply) {
    if (reply.empty())
        throw ESmtpError("Not Connected");
}

void TNMSMTP::ReadExtraLines(std::string& reply, ULONGLONG since) {
    std::size_t size = reply.size();
    while (!reply.empty() && (reply[0] == ' ' || (reply.size() > 3 && reply[3] == '-'))) {
        reply = ReadLnSince(since);
        size += reply.size();
        if (size > MaxReplySize)
            throw ESmtpError("Reply too long");
    }
}

std::string TNMSMTP::command(const std::string& text) {
    const ULONGLONG sent = GetTickCount64();
    const std::string reply = Transaction(text);
    std::string last = reply;
    ReadExtraLines(last, sent);
    return reply;
}

void TNMSMTP::greet() {
    const ULONGLONG connected = GetTickCount64();
    std::string greeting = ReadLn();
    requireReply(greeting);
    const std::string firstLine = greeting;
    ReadExtraLines(greeting, connected);
    LastReply = firstLine;
    ReplyNumber = ReplyNumberOf(firstLine);
    if (ReplyNumber >= 400)
        throw ESmtpError(firstLine);

    for (int attempt = 0;; ++attempt) {
        requireReply(command("HELO " + UserID));
        if (ReplyNumber < 300)
            return;
        // The handler gets one chance to mend the user name.
        if (attempt > 0 || !Handled(OnAuthenticationFailed))
            throw ESmtpError("Authentication failed");
    }
}

void TNMSMTP::Connect() {
    {
        FlagScope busy(Busy, !Busy);
        TPowersock::Connect();
        // The message goes out as header, body and end mark in three sends that the server
        // does not answer one by one; with Nagle's rule each waits for the delayed ACK of the
        // one before it, about 40 ms apiece.
        const BOOL noDelay = TRUE;
        setsockopt(ThisSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        try {
            greet();
        } catch (...) {
            // The caller learns why the handshake failed, not what went wrong saying QUIT.
            try {
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

void TNMSMTP::Abort() {
    TPowersock::Abort();
}

void TNMSMTP::expectBelow(const std::string& text, int limit) {
    const std::string reply = command(text);
    requireReply(reply);
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
    if (!OnHeaderIncomplete)
        throw ESmtpError("Incomplete Header");
    bool handled = false;
    OnHeaderIncomplete(handled, PostMessage->FromAddress.empty() ? 1 : 2);
    if (!handled || !complete())
        throw ESmtpError("Incomplete Header");
}

void TNMSMTP::SendMail() {
    if (Busy)
        return;
    bool success = false;
    {
        FlagScope busy(Busy, true);
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
                requireReply(command("RCPT TO:<" + address + ">"));
                if (ReplyNumber > 300 && OnRecipientNotFound)
                    OnRecipientNotFound(entries[i]);
            }
        }
        expectBelow("DATA", 400);

        Write(FinalHeader->Text() + "\r\n\r\n");
        SendStream(*BodyStream);

        const std::string reply = command(".");
        requireReply(reply);
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
    requireReply(command("VRFY " + name));
    return ReplyNumber <= 251;
}

bool TNMSMTP::ExpandList(const std::string& name) {
    if (Busy)
        return false;
    FlagScope busy(Busy, true);
    CertifyConnect();
    const std::string reply = command("EXPN " + name);
    requireReply(reply);
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
