#include "net/psock_win.h"

#include "fixtures/loopback_server_win.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace std::chrono_literals;

namespace {

// Pumps the calling thread's messages until the condition holds or the bound passes.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = 20s) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

// The component's hidden windows are message-only windows of the calling thread.
int CountThreadWindows(const char* className) {
    int found = 0;
    HWND window = nullptr;
    while ((window = FindWindowExA(HWND_MESSAGE, window, className, nullptr)) != nullptr) {
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
            ++found;
    }
    return found;
}

// A loopback port that nobody listens on.
int RefusedPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
    int length = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
    closesocket(s);
    return ntohs(local.sin_port);
}

std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return data;
}

void HoldUntilClosed(PeerConnection& peer) {
    peer.ReadToClose();
}

class PsockTest : public ::testing::Test {
protected:
    // Keeps Winsock up between components so that closed handles can be probed.
    WinsockSession winsock;

    std::unique_ptr<TPowersock> ConnectedTo(unsigned short port) {
        auto sock = std::make_unique<TPowersock>();
        sock->Host = "127.0.0.1";
        sock->Port = port;
        sock->TimeOut = 10000;
        sock->Connect();
        return sock;
    }
};

// ---------------------------------------------------------------------------------------------
// Construction, destruction and what is left behind

TEST_F(PsockTest, ConstructionStartsWinsockAndDestructionLeavesNothingBehind) {
    const int usersBefore = TPowersock::WinsockUsers();
    const int socketsBefore = TPowersock::OpenSockets();
    SOCKET first = INVALID_SOCKET;
    {
        LoopbackServer server(HoldUntilClosed);
        TPowersock sock;
        EXPECT_EQ(TPowersock::WinsockUsers(), usersBefore + 1);
        ASSERT_EQ(sock.WinsockInfo.Count(), 6);
        EXPECT_EQ(sock.WinsockInfo[0].rfind("Version= ", 0), 0u);
        EXPECT_EQ(sock.WinsockInfo[5].rfind("Max Udp pack size= ", 0), 0u);
        EXPECT_EQ(CountThreadWindows("PsockWindowClass"), 1);
        EXPECT_EQ(CountThreadWindows("TmrWindowClass"), 1);
        first = sock.ThisSocket;
        ASSERT_NE(first, INVALID_SOCKET);

        // Connected and with a time-out running: the worst moment to go away.
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.TimeOut = 10000;
        sock.Connect();
        sock.TimerOn();
        EXPECT_EQ(TThreadTimer::ActiveTimers(), 1);
    }
    EXPECT_EQ(CountThreadWindows("PsockWindowClass"), 0);
    EXPECT_EQ(CountThreadWindows("TmrWindowClass"), 0);
    EXPECT_EQ(TThreadTimer::ActiveTimers(), 0);
    EXPECT_EQ(TPowersock::OpenSockets(), socketsBefore);
    EXPECT_EQ(TPowersock::WinsockUsers(), usersBefore);
    int type = 0;
    int length = sizeof type;
    EXPECT_NE(getsockopt(first, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length), 0);
}

TEST_F(PsockTest, ManyComponentsComeAndGoWithoutLeaks) {
    for (int i = 0; i < 20; ++i) {
        TPowersock a;
        TPowersock b;
        a.Disconnect(); // a fresh socket replaces the closed one
        EXPECT_EQ(TPowersock::OpenSockets(), 2);
    }
    EXPECT_EQ(TPowersock::OpenSockets(), 0);
    EXPECT_EQ(CountThreadWindows("PsockWindowClass"), 0);
    EXPECT_EQ(CountThreadWindows("TmrWindowClass"), 0);
}

// ---------------------------------------------------------------------------------------------
// Connecting

TEST_F(PsockTest, ConnectToDottedAddressNeedsNoLookup) {
    LoopbackServer server(HoldUntilClosed);
    TPowersock sock;
    int resolved = 0, connected = 0, disconnected = 0;
    sock.OnHostResolved = [&](TPowersock*) { ++resolved; };
    sock.OnConnect = [&](TPowersock*) { ++connected; };
    sock.OnDisconnect = [&](TPowersock*) { ++disconnected; };
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.TimeOut = 10000;
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(sock.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(sock.GetLocalAddress(), "127,0,0,1");

    // A second Connect must not disturb the connection it finds.
    EXPECT_EQ(ErrorText([&] { sock.Connect(); }), "Already connected");
    EXPECT_TRUE(sock.Connected);
    sock.Writeln("still here");

    sock.Disconnect();
    EXPECT_FALSE(sock.Connected);
    EXPECT_EQ(disconnected, 1);
    EXPECT_NE(sock.ThisSocket, INVALID_SOCKET);

    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(connected, 2);
    EXPECT_TRUE(PumpUntil([&] { return server.Accepted() == 2; }));
}

TEST_F(PsockTest, ConnectToLocalhostLooksItUp) {
    LoopbackServer server(HoldUntilClosed);
    TPowersock sock;
    int resolved = 0;
    sock.OnHostResolved = [&](TPowersock*) { ++resolved; };
    sock.Host = "localhost";
    sock.Port = server.Port();
    sock.TimeOut = 10000;
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(sock.GetRemoteIP(), "127.0.0.1");
}

// "bad..name" has an empty label: the resolver turns it down without asking any server.
TEST_F(PsockTest, UnresolvableHostGivesOneChanceToRepair) {
    LoopbackServer server(HoldUntilClosed);
    TPowersock sock;
    sock.Port = server.Port();
    sock.TimeOut = 10000;

    sock.Host = "bad..name";
    EXPECT_EQ(ErrorText([&] { sock.Connect(); }), "Null Remote Address");

    int asked = 0;
    sock.OnInvalidHost = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(ErrorText([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1); // handled but still bad: not asked again

    sock.OnInvalidHost = [&](bool& handled) {
        ++asked;
        sock.Host = "127.0.0.1";
        handled = true;
    };
    sock.Host = "bad..name";
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(asked, 2);

    TPowersock unhandled;
    unhandled.Host = "";
    unhandled.Port = server.Port();
    unhandled.OnInvalidHost = [](bool&) {};
    EXPECT_EQ(ErrorText([&] { unhandled.Connect(); }), "Null Remote Address");
}

TEST_F(PsockTest, RefusedConnectionFailsAfterTheEventAndTheComponentRecovers) {
    TPowersock sock;
    int failed = 0;
    sock.OnConnectionFailed = [&](TPowersock* sender) {
        EXPECT_EQ(sender, &sock);
        ++failed;
    };
    sock.Host = "127.0.0.1";
    sock.Port = RefusedPort();
    sock.TimeOut = 10000;
    try {
        sock.Connect();
        FAIL() << "connected to a closed port";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Connection Failed");
    }
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(sock.Connected);

    LoopbackServer server(HoldUntilClosed);
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
}

// The port goes out as 16 bits: one outside the range must not wrap onto a listening port.
TEST_F(PsockTest, PortOutsideTheRangeConnectsNowhere) {
    LoopbackServer server(HoldUntilClosed);
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.TimeOut = 10000;
    for (int port : {server.Port() + 65536, server.Port() - 65536, 0}) {
        sock.Port = port;
        EXPECT_EQ(ErrorText([&] { sock.Connect(); }), "Invalid Port") << port;
        EXPECT_FALSE(sock.Connected);
    }
    EXPECT_EQ(server.Accepted(), 0);
}

// ---------------------------------------------------------------------------------------------
// Time-out and cancellation

TEST_F(PsockTest, ReadLnOnSilentPeerTimesOut) {
    LoopbackServer server(HoldUntilClosed);
    auto sock = ConnectedTo(server.Port());
    sock->TimeOut = 300;
    const auto start = std::chrono::steady_clock::now();
    try {
        sock->ReadLn();
        FAIL() << "a silent peer produced a line";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket readln aborted");
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 250ms);
    EXPECT_LT(elapsed, 15s);
    EXPECT_FALSE(sock->Canceled);
    EXPECT_TRUE(sock->TimedOut);
    EXPECT_TRUE(sock->Connected);
    EXPECT_EQ(TThreadTimer::ActiveTimers(), 0);

    std::string captured;
    EXPECT_EQ(ErrorText([&] { sock->CaptureString(captured, -1); }), "Socket capture aborted");
    EXPECT_FALSE(sock->Canceled);
}

TEST_F(PsockTest, CancelFromAnotherThreadEndsAnUnboundedWait) {
    LoopbackServer server(HoldUntilClosed);
    auto sock = ConnectedTo(server.Port());
    sock->TimeOut = 0;
    sock->ReportLevel = 8;
    Signal reading;
    std::vector<std::string> statuses;
    sock->OnStatus = [&](TPowersock*, const std::string& status) {
        statuses.push_back(status);
        if (status == "ReadLn")
            reading.Raise();
    };
    std::thread canceler([&] {
        if (reading.Wait())
            sock->Cancel();
    });
    EXPECT_EQ(ErrorText([&] { sock->ReadLn(); }), "Socket readln aborted");
    canceler.join();
    EXPECT_FALSE(sock->Canceled);
    EXPECT_EQ(TThreadTimer::ActiveTimers(), 0);
    // The canceling thread does not report: status events stay on the owner's thread.
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Canceling"), 0);
}

// A lookup canceled as it starts: Connect passes the cancellation on instead of taking it for a
// host without an address.
TEST_F(PsockTest, CanceledLookupEndsConnect) {
    TPowersock sock;
    sock.Host = "localhost";
    sock.Port = RefusedPort();
    sock.ReportLevel = 8;
    sock.OnStatus = [](TPowersock* s, const std::string& text) {
        if (text == "Resolve Host")
            s->Cancel();
    };
    EXPECT_THROW(sock.Connect(), ESockCanceled);
    EXPECT_EQ(ErrorText([&] { sock.Connect(); }), "Host Lookup Canceled");
}

TEST_F(PsockTest, TimerRestartsAtEveryTimerOn) {
    TPowersock sock;
    sock.TimeOut = 200;
    int fired = 0;
    sock.ReportLevel = 8;
    sock.OnStatus = [&](TPowersock*, const std::string& s) { fired += s == "Timer Triggered"; };
    sock.TimerOn();
    EXPECT_TRUE(PumpUntil([&] { return fired == 1; }));
    EXPECT_TRUE(sock.TimedOut);
    EXPECT_TRUE(sock.Canceled);
    EXPECT_TRUE(sock.LookupDone);
    EXPECT_EQ(TThreadTimer::ActiveTimers(), 0); // fired once, then off
    sock.TimerOn();
    EXPECT_FALSE(sock.TimedOut);
    sock.TimerOff();
    EXPECT_EQ(TThreadTimer::ActiveTimers(), 0);
}

// ---------------------------------------------------------------------------------------------
// Reading lines

TEST_F(PsockTest, ReadLnTakesOneLineAtATime) {
    LoopbackServer server([](PeerConnection& peer) {
        peer.Send("one\r\ntwo\r\n");
        std::string line;
        peer.ReadLine(line); // "more"
        for (const char* piece : {"par", "tial li", "ne\r\n"}) {
            peer.Send(piece);
            std::this_thread::sleep_for(30ms); // separate segments
        }
        peer.ReadLine(line); // "close"
        peer.Send("last\r\ntail");
        peer.Close();
    });
    auto sock = ConnectedTo(server.Port());
    EXPECT_EQ(sock->ReadLn(), "one\r\n");
    EXPECT_TRUE(sock->DataAvailable()); // the second line is still in the socket
    EXPECT_EQ(sock->ReadLn(), "two\r\n");
    sock->Writeln("more");
    EXPECT_EQ(sock->ReadLn(), "partial line\r\n");
    sock->Writeln("close");
    EXPECT_EQ(sock->ReadLn(), "last\r\n");
    // The unterminated rest before the close is not lost, and after it comes nothing.
    EXPECT_EQ(sock->ReadLn(), "tail");
    EXPECT_EQ(sock->ReadLn(), "");
}

TEST_F(PsockTest, ReadLnAfterTheCloseWasNoticedReturnsEmpty) {
    LoopbackServer server([](PeerConnection& peer) { peer.Close(); });
    auto sock = ConnectedTo(server.Port());
    int disconnected = 0;
    sock->OnDisconnect = [&](TPowersock*) { ++disconnected; };
    EXPECT_TRUE(PumpUntil([&] { return !sock->Connected; }));
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(sock->ReadLn(), "");
    EXPECT_EQ(sock->LastErrorNo, WSAENOTCONN);
}

TEST_F(PsockTest, ReadLnCutsALineLongerThanTheBuffer) {
    const std::string longLine = std::string(70000, 'a') + "\r\n";
    LoopbackServer server([&](PeerConnection& peer) {
        peer.Send(longLine + "next\r\n");
        peer.ReadToClose();
    });
    auto sock = ConnectedTo(server.Port());
    const std::string first = sock->ReadLn();
    EXPECT_EQ(first, std::string(65536, 'a'));
    EXPECT_EQ(first + sock->ReadLn(), longLine);
    EXPECT_EQ(sock->ReadLn(), "next\r\n");
}

TEST_F(PsockTest, TransactionReadsOneReplyLineAndItsNumber) {
    ScriptedPeer peer({
        ScriptedPeer::Expect(),
        ScriptedPeer::Reply("250-first\r\n250 second\r\n"),
        ScriptedPeer::Expect(),
        ScriptedPeer::Reply("hello there\r\n"),
        ScriptedPeer::Expect(),
        ScriptedPeer::Reply("70000 far too big\r\n"),
    });
    auto sock = ConnectedTo(peer.Port());
    sock->ReportLevel = 1;
    std::vector<std::string> statuses;
    sock->OnStatus = [&](TPowersock*, const std::string& s) { statuses.push_back(s); };

    EXPECT_EQ(sock->Transaction("EHLO me"), "250-first\r\n");
    EXPECT_EQ(sock->LastReply, "250-first\r\n");
    EXPECT_EQ(sock->ReplyNumber, 250);
    EXPECT_EQ(sock->ReadLn(), "250 second\r\n"); // the continuation stayed unread

    sock->Transaction("NOOP");
    EXPECT_EQ(sock->ReplyNumber, 0);
    EXPECT_THROW(sock->Transaction("BIG"), ERangeError);

    EXPECT_EQ(statuses, (std::vector<std::string>{"250-first\r\n", "hello there\r\n",
                                                  "70000 far too big\r\n"}));
    EXPECT_TRUE(peer.WaitForLines(3));
    EXPECT_EQ(peer.Lines(), (std::vector<std::string>{"EHLO me", "NOOP", "BIG"}));
}

// ---------------------------------------------------------------------------------------------
// Sending

TEST_F(PsockTest, WriteStopsAtAnEmbeddedZero) {
    ScriptedPeer peer({ScriptedPeer::Expect(), ScriptedPeer::Expect()});
    auto sock = ConnectedTo(peer.Port());
    sock->Write(std::string("ab\0cd", 5));
    sock->Writeln("x");
    sock->Writeln(std::string(70000, 'y')); // longer than the buffer: sent whole, in pieces
    EXPECT_TRUE(peer.WaitForLines(2));
    EXPECT_EQ(peer.Lines(), (std::vector<std::string>{"abx", std::string(70000, 'y')}));
    EXPECT_EQ(peer.Raw(), "abx\r\n" + std::string(70000, 'y') + "\r\n");
}

TEST_F(PsockTest, SendStreamLargerThanTheBufferArrivesIntact) {
    const std::string data = Pattern(300000);
    std::string received;
    Signal done;
    LoopbackServer server([&](PeerConnection& peer) {
        received = peer.ReadBytes(data.size());
        done.Raise();
        peer.ReadToClose();
    });
    auto sock = ConnectedTo(server.Port());
    TMemoryStream stream;
    stream.WriteBuffer(data.data(), static_cast<std::int32_t>(data.size()));
    int packets = 0;
    std::uint32_t lastCount = 0;
    sock->OnPacketSent = [&](TPowersock* s) {
        ++packets;
        EXPECT_GT(s->BytesSent, lastCount);
        lastCount = s->BytesSent;
    };
    sock->SendStream(stream);
    EXPECT_EQ(sock->BytesSent, data.size());
    EXPECT_EQ(sock->BytesTotal, data.size());
    EXPECT_GE(packets, 5); // at least one send per 64 KiB chunk
    ASSERT_TRUE(done.Wait());
    EXPECT_TRUE(received == data);

    // SendFile is the same transfer from a file.
    const std::string path = TempPath("sendfile.bin");
    { std::ofstream(path, std::ios::binary) << data.substr(0, 100000); }
    std::string fileReceived;
    Signal fileDone;
    LoopbackServer fileServer([&](PeerConnection& peer) {
        fileReceived = peer.ReadBytes(100000);
        fileDone.Raise();
        peer.ReadToClose();
    });
    auto fileSock = ConnectedTo(fileServer.Port());
    fileSock->SendFile(path);
    ASSERT_TRUE(fileDone.Wait());
    EXPECT_TRUE(fileReceived == data.substr(0, 100000));
    EXPECT_THROW(fileSock->SendFile(TempPath("missing.bin")), EFOpenError);
    std::remove(path.c_str());
}

TEST_F(PsockTest, CanceledSendRaisesOnceAndClearsTheFlag) {
    LoopbackServer server(HoldUntilClosed);
    auto sock = ConnectedTo(server.Port());
    sock->Cancel();
    EXPECT_EQ(ErrorText([&] { sock->Writeln("x"); }), "Socket send aborted");
    EXPECT_FALSE(sock->Canceled);
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    sock->Cancel();
    EXPECT_EQ(ErrorText([&] { sock->SendStream(stream); }), "Socket send aborted");
    EXPECT_FALSE(sock->Canceled);
    sock->Writeln("after"); // goes out normally again
}

// ---------------------------------------------------------------------------------------------
// Capturing and reading counts

TEST_F(PsockTest, CaptureOperationsCollectWhatThePeerSends) {
    const std::string data = Pattern(150000);
    LoopbackServer server([&](PeerConnection& peer) {
        std::string command;
        while (peer.ReadLine(command)) {
            if (command == "limited\r\n")
                peer.Send("0123456789\r\n");
            else if (command == "header\r\n")
                peer.Send("A: 1\r\nB: 2\r\n\r\nbody\r\n");
            else if (command == "read\r\n")
                peer.Send("hello world");
            else if (command == "all\r\n") {
                peer.Send(data);
                peer.Close();
                return;
            }
        }
    });
    auto sock = ConnectedTo(server.Port());

    std::string text;
    sock->Writeln("limited");
    sock->CaptureString(text, 5);
    EXPECT_EQ(text, "01234");
    EXPECT_EQ(sock->ReadLn(), "56789\r\n"); // nothing beyond the limit was taken

    sock->Writeln("header");
    TMemoryStream header;
    sock->FilterHeader(header);
    EXPECT_EQ(header.DataString(), "A: 1\r\nB: 2\r\n\r\n");
    EXPECT_EQ(sock->ReadLn(), "body\r\n");

    sock->Writeln("read");
    EXPECT_EQ(sock->Read(5), "hello");
    EXPECT_EQ(sock->Read(6), " world");

    sock->Writeln("all");
    const std::string path = TempPath("capture.bin");
    int packets = 0;
    sock->OnPacketRecvd = [&](TPowersock*) { ++packets; };
    sock->CaptureFile(path);
    EXPECT_TRUE(ReadWholeFile(path) == data);
    EXPECT_EQ(sock->BytesRecvd, data.size());
    EXPECT_GE(packets, 3);
    std::remove(path.c_str());
}

TEST_F(PsockTest, CaptureStreamAppendFileAndReadAtTheEnd) {
    LoopbackServer server([](PeerConnection& peer) {
        peer.Send("first chunk");
        std::string line;
        peer.ReadLine(line);
        peer.Send("tail");
        peer.Close();
    });
    auto sock = ConnectedTo(server.Port());
    TMemoryStream stream;
    sock->CaptureStream(stream, -1); // a single receive
    EXPECT_EQ(stream.DataString(), "first chunk");

    const std::string path = TempPath("append.txt");
    { std::ofstream(path, std::ios::binary) << "head"; }
    sock->Writeln("go");
    sock->AppendFile(path);
    EXPECT_EQ(ReadWholeFile(path), "headtail");
    std::remove(path.c_str());
    EXPECT_EQ(sock->Read(10), "");
}

TEST_F(PsockTest, ReadOfMoreThanThePeerSendsBeforeClosingReturnsTheRest) {
    LoopbackServer server([](PeerConnection& peer) {
        peer.Send("short");
        peer.Close();
    });
    auto sock = ConnectedTo(server.Port());
    EXPECT_EQ(sock->Read(100), "short");
}

// ---------------------------------------------------------------------------------------------
// Error texts and status

TEST_F(PsockTest, ErrorTextsAndEvents) {
    TPowersock sock;
    EXPECT_EQ(sock.SocketErrorStr(10061), "10061:Connection refused");
    EXPECT_EQ(sock.SocketErrorStr(12345), "Unknown Error No. 12345");
    EXPECT_EQ(sock.SocketErrorStr(0), "");

    std::vector<std::pair<int, std::string>> errors;
    sock.OnError = [&](TPowersock*, int number, const std::string& text) {
        errors.emplace_back(number, text);
    };
    WSASetLastError(10035);
    EXPECT_EQ(sock.ErrorManager(10035), ""); // the expected one passes
    EXPECT_EQ(sock.LastErrorNo, 10035);
    WSASetLastError(10054);
    EXPECT_EQ(ErrorText([&] { sock.ErrorManager(10035); }), "10054:Connection reset by peer");
    sock.SetWSAError(10061, "");
    EXPECT_EQ(WSAGetLastError(), 10061);
    sock.SetLastErrorNo(7);
    EXPECT_EQ(sock.GetLastErrorNo(), 7);
    EXPECT_EQ(errors,
              (std::vector<std::pair<int, std::string>>{{10054, "10054:Connection reset by peer"},
                                                        {10061, "10061:Connection refused"}}));
}

TEST_F(PsockTest, ReportLevelFiltersStatusMessages) {
    TPowersock sock;
    std::vector<std::string> reported;
    sock.OnStatus = [&](TPowersock*, const std::string& s) {
        reported.push_back(s);
        throw std::runtime_error("handlers may fail");
    };
    sock.ReportLevel = 4;
    sock.StatusMessage(8, "eight");
    sock.StatusMessage(1, "one");
    sock.StatusMessage(4, "four");
    sock.Cancel(); // level 8: filtered
    EXPECT_EQ(reported, (std::vector<std::string>{"one", "four"}));
    EXPECT_EQ(sock.Status, "four");
}

TEST_F(PsockTest, CertifyConnectAsksOnce) {
    TPowersock sock;
    EXPECT_EQ(ErrorText([&] { sock.CertifyConnect(); }), "Not Connected");
    int asked = 0;
    sock.OnConnectionRequired = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(ErrorText([&] { sock.CertifyConnect(); }), "Not Connected");
    EXPECT_EQ(asked, 1);
}

TEST_F(PsockTest, WaitsLeaveAQuitMessageForTheThreadsOwnLoop) {
    LoopbackServer server([](PeerConnection& peer) {
        peer.Send("line\r\n");
        peer.ReadToClose();
    });
    auto sock = ConnectedTo(server.Port());
    PostQuitMessage(3);
    EXPECT_EQ(sock->ReadLn(), "line\r\n");
    sock->Disconnect();
    sock->Connect();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

// ---------------------------------------------------------------------------------------------
// Listening side

TEST_F(PsockTest, ListenAndAcceptADataConnection) {
    TPowersock listener;
    listener.ListenAddress = "127.0.0.1";
    listener.Port = 0;
    int notified = 0;
    listener.OnDisconnect = [&](TPowersock*) { ++notified; };
    listener.Listen(true);
    const std::string portText = listener.GetPortString();
    const int port =
        std::stoi(NthWord(portText, ',', 2)) * 256 + std::stoi(NthWord(portText, ',', 3));
    ASSERT_GT(port, 0);

    auto client = std::make_unique<TPowersock>();
    client->Host = "127.0.0.1";
    client->Port = port;
    client->TimeOut = 10000;
    client->Connect();
    client->Writeln("over the data connection");

    const SOCKET data = listener.Accept();
    ASSERT_NE(data, INVALID_SOCKET);
    EXPECT_TRUE(listener.Connected);
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(listener.GetRemoteIP(), "127.0.0.1");
    std::string got;
    char chunk[64];
    ASSERT_TRUE(PumpUntil([&] {
        const int n = recv(data, chunk, sizeof chunk, 0);
        if (n > 0)
            got.append(chunk, n);
        return got.size() >= 26;
    }));
    EXPECT_EQ(got, "over the data connection\r\n");
    listener.Close(data);

    listener.Cancel();
    EXPECT_EQ(ErrorText([&] { listener.Accept(); }), "Accepting Canceled");
}

class EchoServer : public TNMGeneralServer {
public:
    void Serve() override {
        TimeOut = 10000;
        const std::string line = ReadLn();
        Writeln("echo " + line.substr(0, line.find('\r')));
        // Wait for the client to go away before this instance does.
        ReadLn();
    }

protected:
    std::unique_ptr<TNMGeneralServer> NewServeInstance() override {
        return std::make_unique<EchoServer>();
    }
};

TEST_F(PsockTest, GeneralServerServesTwoClientsOnThreadsOfTheirOwn) {
    {
        EchoServer server;
        server.ListenAddress = "127.0.0.1";
        server.Port = 0;
        int contacts = 0;
        server.OnClientContact = [&](TPowersock*) { ++contacts; };
        server.Loaded();
        const std::string portText = server.GetPortString();
        const int port =
            std::stoi(NthWord(portText, ',', 2)) * 256 + std::stoi(NthWord(portText, ',', 3));

        // Each client is a component made on a thread that has no message loop of its own.
        std::string replies[2];
        std::atomic<int> clientsDone{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < 2; ++i) {
            clients.emplace_back([&, i] {
                try {
                    TPowersock client;
                    client.Host = "127.0.0.1";
                    client.Port = port;
                    client.TimeOut = 10000;
                    client.Connect();
                    replies[i] = client.Transaction("client " + std::to_string(i));
                    client.Disconnect();
                } catch (const std::exception& e) {
                    replies[i] = e.what();
                }
                ++clientsDone;
            });
        }
        EXPECT_TRUE(PumpUntil([&] { return clientsDone == 2; }));
        for (std::thread& t : clients)
            t.join();
        EXPECT_EQ(replies[0], "echo client 0\r\n");
        EXPECT_EQ(replies[1], "echo client 1\r\n");
        EXPECT_EQ(contacts, 2);
        EXPECT_TRUE(PumpUntil([&] { return server.ClientCount() == 0; }));
    }
    EXPECT_EQ(TPowersock::OpenSockets(), 0);
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
}

} // namespace
