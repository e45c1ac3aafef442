// The History window's data as it travels: from the service's buckets, through one pipe message,
// back into what the window shows.
#include "app/historyreply.h"
#include "control/protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const CivilSeconds Now = ToCivilSeconds(2026, 12, 8, 12, 0, 0);

MonitorHistory travel(const MonitorHistory& answer, std::size_t* bytes = nullptr) {
    const std::string encoded = EncodeMessage(HistoryMessage(answer));
    EXPECT_FALSE(encoded.empty()) << "always fits in one message";
    if (bytes)
        *bytes = encoded.size();
    std::string error;
    const auto decoded = DecodeMessage(encoded, error);
    EXPECT_TRUE(decoded) << error;
    const auto history = decoded ? HistoryFromMessage(*decoded) : std::nullopt;
    EXPECT_TRUE(history);
    return history.value_or(MonitorHistory());
}

} // namespace

TEST(HistoryReply, UptimePerListedSiteAndTheChosenSitesChart) {
    HistoryIndex index;
    for (int i = 1; i <= 4; ++i)
        index.Add(
            {Now - i * 300, "http://a.test/", i != 2, 100u * i, i == 2 ? "refused, twice" : ""});
    index.Add({Now - 3 * 86400, "http://b.test/", true, 5, ""});

    const MonitorHistory h =
        travel(HistoryAnswer(index, {"http://b.test/", "http://a.test/", "http://new.test/"},
                             "http://a.test/", "7d", Now));
    EXPECT_EQ(h.Span, "7d");
    EXPECT_EQ(h.Now, Now);
    EXPECT_EQ(h.Step, 3600);
    ASSERT_EQ(h.Sites.size(), 3u);
    EXPECT_EQ(h.Sites[0].Url, "http://b.test/") << "the list's order";
    EXPECT_EQ(h.Sites[0].Day, -1) << "no probe in the last day";
    EXPECT_EQ(h.Sites[0].Week, 100);
    EXPECT_EQ(h.Sites[1].Day, 75);
    EXPECT_EQ(h.Sites[2].Month, -1);
    ASSERT_EQ(h.Points.size(), 1u) << "four probes in one hour";
    EXPECT_EQ(h.Points[0].Checks, 4u);
    EXPECT_EQ(h.Points[0].Downs, 1u);
    EXPECT_EQ(h.Points[0].Milliseconds, (100u + 300u + 400u) / 3);
    EXPECT_EQ(h.Points[0].Reason, "refused, twice") << "a comma in the reason survives";

    // An unknown span is the day's.
    EXPECT_EQ(travel(HistoryAnswer(index, {}, "http://a.test/", "1y", Now)).Step, 300);
}

TEST(HistoryReply, TheWorstCaseFitsOneMessageAndCountsTheSitesLeftOut) {
    MonitorHistory answer;
    answer.Span = "24h";
    answer.Url = std::string(2047, 'u');
    for (std::size_t i = 0; i < 400; ++i)
        answer.Points.push_back(
            {Now + 300 * static_cast<CivilSeconds>(i), 4294967295u, 60, 60, std::string(500, 'r')});
    for (int i = 0; i < 1000; ++i)
        answer.Sites.push_back(
            {"http://site" + std::to_string(i) + ".test/" + std::string(100, 'p'), 99.123456, 100,
             0});
    std::size_t bytes = 0;
    const MonitorHistory h = travel(answer, &bytes);
    EXPECT_LE(bytes, MaxMessageSize);
    EXPECT_EQ(h.Points.size(), MaxHistoryChartPoints);
    EXPECT_EQ(h.Points.back().Start, answer.Points.back().Start) << "the latest points stay";
    EXPECT_EQ(h.Points[0].Reason.size(), MaxPointReason);
    ASSERT_GT(h.Sites.size(), 0u);
    EXPECT_EQ(h.Sites.size() + h.More, 1000u);
    EXPECT_EQ(h.Sites[0].Day, 99.123);
}

TEST(HistoryReply, AnOlderServiceIsToldFromOtherErrorsAndJunkIsRefused) {
    EXPECT_TRUE(IsUnknownRequestError(ErrorMessage("malformed", "Unknown request \"history\".")));
    EXPECT_FALSE(IsUnknownRequestError(ErrorMessage("failed", "Unknown request")));
    EXPECT_FALSE(IsUnknownRequestError(ErrorMessage("malformed", "A line without \"=\".")));

    const auto broken = [](const char* name, const char* value) {
        ControlMessage m = HistoryMessage(MonitorHistory());
        m.Add("site", "http://a/").Add(name, value);
        return HistoryFromMessage(m).has_value();
    };
    EXPECT_TRUE(broken("up", "1,2,-"));
    EXPECT_FALSE(broken("up", "1,2"));
    EXPECT_FALSE(broken("up", "101,2,3"));
    EXPECT_FALSE(broken("p", "1,2,3,4"));
    EXPECT_FALSE(broken("p", "1,2,3,4x,"));
    EXPECT_FALSE(broken("p", "1,2,3,4,")) << "more downs than checks";
    EXPECT_FALSE(broken("more", "-1"));
}
