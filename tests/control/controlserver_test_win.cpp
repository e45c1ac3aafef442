// The control pipe's server in-process, with a stand-in handler: its bounds per client, its
// fairness between clients, and what happens to the work of a client that leaves.
#include "control/controlserver_win.h"
#include "base/text.h"
#include "fixtures/pipe_client_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// Answers checknow at once, holds every checklist until told, and answers getsettings with
// whatever it is given.
class StandInHandler : public ControlHandler {
public:
    std::atomic<int> checkNows{0};
    std::mutex lock;
    std::vector<ControlReply> heldLists;
    ControlMessage settingsAnswer{msg::Settings};

    void CheckNow(ControlReply reply) override {
        ++checkNows;
        reply.Send(ControlMessage(msg::Ok));
    }
    void GetSettings(ControlReply reply) override { reply.Send(settingsAnswer); }
    void SetSettings(const ControlMessage&, ControlReply reply) override {
        reply.Send(ControlMessage(msg::Ok));
    }
    void CheckList(const std::vector<std::string>&, ControlReply reply) override {
        std::lock_guard<std::mutex> guard(lock);
        heldLists.push_back(reply);
    }
    void Stop(ControlReply reply) override { reply.Send(ControlMessage(msg::Ok)); }
    // A test post is held until told, as a slow receiver holds it.
    std::vector<ControlMessage> tests;
    std::vector<ControlReply> heldTests;
    void TestWebhook(const ControlMessage& request, ControlReply reply) override {
        std::lock_guard<std::mutex> guard(lock);
        tests.push_back(request);
        heldTests.push_back(reply);
    }
    void StartMaintenance(std::int32_t minutes, ControlReply reply) override {
        reply.Send(ControlMessage(msg::Ok).Add("minutes", std::to_string(minutes)));
    }

    ControlReply HeldList() {
        std::lock_guard<std::mutex> guard(lock);
        return heldLists.empty() ? ControlReply() : heldLists.back();
    }
};

class ControlServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ControlServerOptions options;
        options.PipeName = name;
        options.HelloBoundMs = helloBoundMs;
        // Every Wine client holds the same token: who connected is whoever the test says next,
        // else someone new each time.
        options.Identify = [this](HANDLE) {
            std::lock_guard<std::mutex> guard(identities);
            ClientIdentity who{"S-1-5-21-" + std::to_string(++strangers), false};
            if (!nextIdentities.empty()) {
                who = nextIdentities.front();
                nextIdentities.pop_front();
            }
            return who;
        };
        server = std::make_unique<ControlServer>(handler, options);
        std::string error;
        ASSERT_TRUE(server->Start(error)) << error;
        MonitorStatus status;
        status.Picture = 1;
        status.Tip = "http://down/";
        status.Failed = {{"http://down/", "HTTP status 503", 12}};
        server->SetStatus(status, false);
    }

    PipeClient ClientOf(const std::string& user, bool administrator = false, bool hello = true) {
        {
            std::lock_guard<std::mutex> guard(identities);
            nextIdentities.push_back({user, administrator});
        }
        return Client(hello);
    }

    PipeClient Client(bool hello = true) {
        PipeClient client;
        EXPECT_TRUE(waitFor([&] { return client.Open(name); }, 10000));
        if (hello) {
            EXPECT_TRUE(client.Hello());
        }
        return client;
    }

    const std::string name =
        "\\\\.\\pipe\\VigrelServerTest" + std::to_string(::GetCurrentProcessId());
    DWORD helloBoundMs = 300;
    StandInHandler handler;
    std::unique_ptr<ControlServer> server;
    std::mutex identities;
    std::deque<ClientIdentity> nextIdentities;
    int strangers = 0;
};

} // namespace

TEST_F(ControlServerTest, ClientThatNeverReadsIsDroppedAfter32RepliesWhileOthersAreAnswered) {
    PipeClient flooder = Client();
    // 31 statuses and a checknow: once the handler saw the checknow, all 32 replies wait.
    for (int i = 0; i < 31; ++i)
        ASSERT_TRUE(flooder.Send(ControlMessage(msg::Status)));
    ASSERT_TRUE(flooder.Send(ControlMessage(msg::CheckNow)));
    ASSERT_TRUE(waitFor([&] { return handler.checkNows == 1; }, 10000));

    // The flooder holds the server up for nobody.
    PipeClient other = Client();
    EXPECT_EQ(other.Ask(ControlMessage(msg::Status), msg::Status).Get("picture"), "1");

    // 32 unread are allowed: every one of them is still there to read.
    for (int i = 0; i < 31; ++i)
        ASSERT_EQ(flooder.Receive().Type, msg::Status) << i;
    ASSERT_EQ(flooder.Receive().Type, msg::Ok);

    // One more than 32 drops it.
    for (int i = 0; i < 32; ++i)
        ASSERT_TRUE(flooder.Send(ControlMessage(msg::Status)));
    ASSERT_TRUE(flooder.Send(ControlMessage(msg::CheckNow)));
    EXPECT_TRUE(waitFor([&] { return flooder.Gone(); }, 10000));
    EXPECT_EQ(other.Ask(ControlMessage(msg::CheckNow), msg::Ok).Type, msg::Ok);
}

TEST_F(ControlServerTest, ReadyClientsAreServedInTurn) {
    // Greedy clients keep requests waiting at all times, within the bound, and read every reply
    // as soon as it comes.
    std::atomic<bool> done{false};
    std::atomic<bool> greedyFailed{false};
    std::vector<std::thread> threads;
    std::vector<ScopedFileHandle> pipes;
    for (int g = 0; g < 4; ++g) {
        pipes.emplace_back(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        ASSERT_TRUE(pipes.back());
        DWORD mode = PIPE_READMODE_MESSAGE;
        ::SetNamedPipeHandleState(pipes.back().Get(), &mode, nullptr, nullptr);
    }
    for (ScopedFileHandle& pipe : pipes) {
        threads.emplace_back([&, h = pipe.Get()] {
            ScopedKernelHandle written(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
            ScopedKernelHandle read(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
            std::vector<char> buffer(MaxMessageSize);
            ControlMessage hello(msg::Hello);
            hello.Add("version", "1");
            const std::string helloBytes = EncodeMessage(hello);
            const std::string status = EncodeMessage(ControlMessage(msg::Status));
            int ahead = 0;
            bool greeted = false;
            OVERLAPPED rov{};
            rov.hEvent = read.Get();
            DWORD n = 0;
            const auto write = [&](const std::string& bytes) {
                OVERLAPPED wov{};
                wov.hEvent = written.Get();
                ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &wov);
                return ::GetOverlappedResult(h, &wov, &n, TRUE) != FALSE;
            };
            if (!write(helloBytes))
                greedyFailed = true;
            ::ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &rov);
            while (!done && !greedyFailed) {
                if (greeted && ahead < 16) {
                    greedyFailed = !write(status);
                    ++ahead;
                    continue;
                }
                if (::WaitForSingleObject(read.Get(), 5000) != WAIT_OBJECT_0 ||
                    !::GetOverlappedResult(h, &rov, &n, FALSE)) {
                    greedyFailed = !done;
                    break;
                }
                ahead -= greeted ? 1 : 0;
                greeted = true;
                ::ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &rov);
            }
            ::CancelIo(h);
            ::GetOverlappedResult(h, &rov, &n, TRUE);
        });
    }
    // Another client is answered while the greedy ones go on.
    PipeClient other = Client();
    EXPECT_EQ(other.Ask(ControlMessage(msg::Status), msg::Status).Type, msg::Status);
    EXPECT_FALSE(greedyFailed);
    done = true;
    for (std::thread& t : threads)
        t.join();
}

TEST_F(ControlServerTest, WorkOfAClientThatLeavesIsAbandonedAndOthersGoOn) {
    {
        PipeClient leaving = Client();
        ControlMessage list(msg::CheckList);
        list.Add("url", "http://127.0.0.1:1/");
        ASSERT_TRUE(leaving.Send(list));
        ASSERT_TRUE(waitFor([&] { return handler.HeldList().Wanted(); }, 10000));
    }
    const ControlReply held = handler.HeldList();
    EXPECT_TRUE(waitFor([&] { return !held.Wanted(); }, 10000));
    held.Send(CheckListMessage({{"http://127.0.0.1:1/", false}})); // dropped, harmlessly

    PipeClient other = Client();
    EXPECT_EQ(other.Ask(ControlMessage(msg::CheckNow), msg::Ok).Type, msg::Ok);
}

TEST_F(ControlServerTest, HelloLimitAppliesOnlyBeforeHello) {
    PipeClient greeted = Client();
    // A newcomer that never says hello is dropped; the bound has passed for the greeted one too.
    PipeClient silent = Client(false);
    EXPECT_TRUE(waitFor([&] { return silent.Gone(); }, 10000));
    EXPECT_EQ(greeted.Ask(ControlMessage(msg::Status), msg::Status).Type, msg::Status);
}

// What a companion meets at a service that does not know a request of a later version: the
// error it recognises, then the end of the connection.
TEST_F(ControlServerTest, UnknownRequestIsTheErrorACompanionTakesForAnOlderService) {
    PipeClient client = Client();
    ASSERT_TRUE(client.Send(ControlMessage("later")));
    EXPECT_TRUE(IsUnknownRequestError(client.Receive()));
    EXPECT_TRUE(waitFor([&] { return client.Gone(); }, 10000));
}

TEST_F(ControlServerTest, AnswersThatDoNotFitGoOutAsErrorsNeverEmpty) {
    MonitorStatus status;
    status.Picture = 1;
    for (int i = 0; i < 1500; ++i) {
        status.Failed.push_back({"http://site-number-" + std::to_string(i) + ".example/down",
                                 "timed out after 2000 ms", 2000});
        status.Tip += status.Failed.back().Url + "\r\n";
    }
    server->SetStatus(status, false);
    for (int i = 0; i < 1559; ++i)
        handler.settingsAnswer.Add("url", "http://listed-site-" + std::to_string(i) +
                                              ".example/a/longer/path");

    PipeClient client = Client();
    const ControlMessage told = client.Ask(ControlMessage(msg::Status), msg::Status);
    EXPECT_EQ(told.Get("picture"), "1");
    EXPECT_FALSE(told.Get("tip").empty());
    EXPECT_EQ(told.GetAll("failed").size() + std::stoul(told.Get("more", "0")), 1500u);
    const ControlMessage settings = client.Ask(ControlMessage(msg::GetSettings), msg::Settings);
    EXPECT_EQ(settings.Type, msg::Error);
    EXPECT_EQ(settings.Get("code"), "failed");
}

TEST_F(ControlServerTest, LaterRequestCutsShortTheChecklistBeforeItAndRepliesKeepTheirOrder) {
    PipeClient client = Client();
    ControlMessage list(msg::CheckList);
    list.Add("url", "http://127.0.0.1:1/");
    ASSERT_TRUE(client.Send(list));
    ASSERT_TRUE(waitFor([&] { return handler.HeldList().Wanted(); }, 10000));

    // The stand-in never finishes the list: a stop behind it is answered all the same.
    ASSERT_TRUE(client.Send(ControlMessage(msg::Stop)));
    const ControlMessage cut = client.Receive(10000);
    EXPECT_EQ(cut.Type, msg::Error);
    EXPECT_EQ(cut.Get("code"), "failed");
    EXPECT_EQ(client.Receive(10000).Type, msg::Ok);

    const ControlReply held = handler.HeldList();
    EXPECT_FALSE(held.Wanted());
    held.Send(CheckListMessage({{"http://127.0.0.1:1/", false}})); // dropped: answered already
    EXPECT_EQ(client.Ask(ControlMessage(msg::Status), msg::Status).Type, msg::Status);
}

// Clients that stay silent, before hello or after it, hold no instance that another user or an
// administrator needs. The hello limit is long here, so that only the rule ends anyone.
class ControlServerAdmission : public ControlServerTest {
protected:
    ControlServerAdmission() { helloBoundMs = 60000; }
};

TEST_F(ControlServerAdmission, SilentClientsNeverLockOutAnotherUserOrAnAdministrator) {
    // A fifth connection of one user ends that user's own idle longest, whether or not it said
    // hello. The stranger's hello makes sure the server has seen the silent one connect.
    std::vector<PipeClient> hog;
    hog.push_back(ClientOf("S-1-5-21-hog", false, false));
    PipeClient stranger = Client();
    for (int i = 1; i < 5; ++i)
        hog.push_back(ClientOf("S-1-5-21-hog"));
    EXPECT_TRUE(waitFor([&] { return hog[0].Gone(); }, 10000));
    for (int i = 1; i < 5; ++i)
        EXPECT_FALSE(hog[i].Gone()) << i;
    hog.push_back(ClientOf("S-1-5-21-hog"));
    EXPECT_TRUE(waitFor([&] { return hog[1].Gone(); }, 10000));

    // Four users with four each take every instance; the idle longest make room, so a newcomer
    // always finds one: another user's companion, then an administrator's stop.
    for (int u = 0; u < 3; ++u)
        for (int i = 0; i < 4; ++i)
            hog.push_back(ClientOf("S-1-5-21-hog" + std::to_string(u)));
    PipeClient companion = ClientOf("S-1-5-21-companion");
    EXPECT_EQ(companion.Ask(ControlMessage(msg::Status), msg::Status).Type, msg::Status);
    PipeClient admin = ClientOf("S-1-5-21-500", true);
    EXPECT_EQ(admin.Ask(ControlMessage(msg::Stop), msg::Ok).Type, msg::Ok);
    int gone = 0;
    for (PipeClient& h : hog)
        gone += h.Gone() ? 1 : 0;
    EXPECT_GE(gone, 4) << "the oldest hogs made room";
    EXPECT_FALSE(companion.Gone());
}

// The rule's facts come from the client process's token, before any message.
TEST(ControlClientIdentity, ReadFromTheClientProcessAsItConnects) {
    const std::string name =
        "\\\\.\\pipe\\VigrelIdentityTest" + std::to_string(::GetCurrentProcessId());
    ScopedFileHandle server(::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, 0,
                                               0, nullptr));
    ASSERT_TRUE(server);
    ScopedFileHandle client(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(client);
    const ClientIdentity who = ReadClientIdentity(server.Get());
    EXPECT_EQ(who.User.rfind("S-1-5-", 0), 0u) << who.User;
    // Every Wine process is an elevated administrator.
    EXPECT_TRUE(who.Administrator);
}

TEST_F(ControlServerTest, WebhookTestIsAnsweredLateAndWhatFollowsItWaitsInOrder) {
    PipeClient client = Client();
    WebhookChannel channel{"ops", WebhookKind::Slack, "https://hooks.example/t0k3n", ""};
    ASSERT_TRUE(client.Send(TestWebhookMessage(channel)));
    ASSERT_TRUE(waitFor(
        [&] {
            std::lock_guard<std::mutex> guard(handler.lock);
            return !handler.heldTests.empty();
        },
        10000));
    EXPECT_EQ(handler.tests[0].Get("address"), channel.Address);
    ASSERT_TRUE(client.Send(ControlMessage(msg::CheckNow)));
    ControlMessage tooLong(msg::Maintenance);
    ASSERT_TRUE(client.Send(tooLong.Add("minutes", "1441")));
    ASSERT_TRUE(client.Send(MaintenanceMessage(30)));
    EXPECT_EQ(client.Receive(500).Type, "none") << "nothing overtakes the post, nor cuts it short";
    // The post ends on another thread, long after the requests behind it came in.
    std::thread([reply = handler.heldTests[0]] {
        reply.Send(WebhookTestMessage("ops", "delivered"));
    }).join();

    const ControlMessage outcome = client.Receive(10000);
    EXPECT_EQ(outcome.Type, msg::WebhookTest);
    EXPECT_EQ(outcome.Get("outcome"), "delivered");
    EXPECT_EQ(client.Receive(10000).Type, msg::Ok);
    EXPECT_EQ(handler.checkNows, 1);
    EXPECT_EQ(client.Receive(10000).Get("code"), "failed") << "no window longer than a day";
    EXPECT_EQ(client.Receive(10000).Get("minutes"), "30");
}
