// The control pipe's server in-process, with a stand-in handler: its bounds per client, its
// fairness between clients, and what happens to the work of a client that leaves.
#include "control/controlserver_win.h"
#include "base/text.h"
#include "fixtures/pipe_client_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
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
        options.HelloBoundMs = 300;
        server = std::make_unique<ControlServer>(handler, options);
        std::string error;
        ASSERT_TRUE(server->Start(error)) << error;
        MonitorStatus status;
        status.Picture = 1;
        status.Tip = "http://down/";
        status.Failed = {"http://down/"};
        server->SetStatus(status, false);
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
    StandInHandler handler;
    std::unique_ptr<ControlServer> server;
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
    // A greedy client keeps requests waiting at all times, within the bound, and reads every
    // reply.
    PipeClient greedy = Client();
    std::atomic<bool> done{false};
    std::atomic<bool> greedyFailed{false};
    std::atomic<int> ahead{0};
    std::thread writer([&] {
        while (!done) {
            if (ahead >= 16) {
                ::Sleep(0);
                continue;
            }
            ++ahead;
            if (!greedy.Send(ControlMessage(msg::Status))) {
                greedyFailed = true;
                return;
            }
        }
    });
    std::thread reader([&] {
        while (!done) {
            if (ahead == 0) {
                ::Sleep(0);
                continue;
            }
            if (greedy.Receive(5000).Type != msg::Status)
                greedyFailed = true;
            --ahead;
        }
    });
    // A second client is answered while the greedy one goes on.
    PipeClient other = Client();
    EXPECT_EQ(other.Ask(ControlMessage(msg::Status), msg::Status).Type, msg::Status);
    EXPECT_FALSE(greedyFailed);
    done = true;
    writer.join();
    reader.join();
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

TEST_F(ControlServerTest, AnswersThatDoNotFitGoOutAsErrorsNeverEmpty) {
    MonitorStatus status;
    status.Picture = 1;
    for (int i = 0; i < 1500; ++i)
        status.Failed.push_back("http://site-number-" + std::to_string(i) + ".example/down");
    status.Tip = Join(status.Failed, "\r\n");
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
