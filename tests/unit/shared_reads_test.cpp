// The queue of one device family: which exchanges run, in which order, and which answer each
// request gets, with a clock the tests move by hand.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "designer/server_access.h"
#include "platform/profile.h"
#include "test_support.h"
#include "webserver/shared_reads.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Clock = SharedReads::Clock;

class NoFamily : public DeviceFamily {
public:
    std::string ReadItem(std::string_view) override { return {}; }
    void WriteItem(std::string_view) override {}
};

// Drives a SharedReads as the worker does, with a device of the test's own: each read answers
// the item's current value ("name:version", the version counting the writes of that name) or
// the texts the test queued for it.
class SharedReadsTest : public ::testing::Test {
protected:
    // Requests are added as "a;b=1;c".
    void Add(uint64_t ticket, const std::string& payload) {
        std::vector<std::string> items;
        size_t start = 0;
        for (size_t end; (end = payload.find(';', start)) != std::string::npos; start = end + 1)
            items.push_back(payload.substr(start, end - start));
        items.push_back(payload.substr(start));
        reads.Add(ticket, &family, std::move(items), cancelled[ticket]);
    }
    // Starts the next exchange at the test's clock; false when there is none.
    bool Start() {
        exchange = reads.Next(now);
        return exchange.has_value();
    }
    // Ends the exchange in progress with the device's answer. The exchange is logged as its
    // items joined by '+'.
    void End() {
        ASSERT_TRUE(exchange);
        std::vector<std::string> texts;
        std::string joined;
        for (const std::string& item : exchange->items) {
            joined += (joined.empty() ? "" : "+") + item;
            if (exchange->write) {
                ++version[item.substr(0, item.find('='))];
            } else if (!scripted[item].empty()) {
                texts.push_back(scripted[item].front());
                scripted[item].erase(scripted[item].begin());
            } else {
                texts.push_back(item + ":" + std::to_string(version[item]));
            }
        }
        log.push_back(joined);
        reads.Finish(*exchange, texts);
        exchange.reset();
        for (SharedReads::Done& d : reads.TakeDone()) {
            answers[d.ticket] = d.text;
            order.push_back(d.ticket);
        }
    }
    // Runs exchanges until none is left.
    void Drain() {
        while (Start()) End();
        for (SharedReads::Done& d : reads.TakeDone()) {
            answers[d.ticket] = d.text;
            order.push_back(d.ticket);
        }
    }

    NoFamily family;
    SharedReads reads{200ms, 100000};
    Clock::time_point now = Clock::now();
    std::optional<SharedReads::Exchange> exchange;
    std::map<std::string, int> version;
    std::map<std::string, std::vector<std::string>> scripted;
    std::map<uint64_t, std::shared_ptr<std::atomic<bool>>> cancelled;
    std::vector<std::string> log;  // the exchanges, in order
    std::map<uint64_t, std::string> answers;
    std::vector<uint64_t> order;  // tickets in the order they were answered
};

TEST_F(SharedReadsTest, ReadsWaitingTogetherShareOneExchangeAndLaterOnesTakeTheKeptValue) {
    for (uint64_t t = 1; t <= 40; ++t) Add(t, "%MW0");
    Drain();
    EXPECT_EQ(log, std::vector<std::string>{"%MW0"});
    for (uint64_t t = 1; t <= 40; ++t) EXPECT_EQ(answers[t], "%MW0:0");
    // Arriving 199 ms after the exchange started: answered from memory.
    now += 199ms;
    Add(41, "%MW0");
    Drain();
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(answers[41], "%MW0:0");
    // At 200 ms the value is too old: the device is asked again.
    now += 1ms;
    Add(42, "%MW0");
    Drain();
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(SharedReadsTest, ARequestArrivingDuringAnExchangeIsNotAnsweredByIt) {
    // The first answer is an error, which is not kept: the second request, which came while
    // the exchange ran, needs an exchange of its own.
    scripted["x"] = {"[err]", "fresh"};
    Add(1, "x");
    ASSERT_TRUE(Start());
    Add(2, "x");
    End();
    EXPECT_EQ(answers[1], "[err]");
    EXPECT_FALSE(answers.contains(2));
    Drain();
    EXPECT_EQ(answers[2], "fresh");
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(SharedReadsTest, MaxAgeZeroRunsEveryItemOnTheDeviceInArrivalOrder) {
    reads.SetMaxAge(0ms);
    Add(1, "a");
    Add(2, "a;b");
    Add(3, "a");
    Drain();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "a+b", "a"}));
    EXPECT_EQ(order, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(answers[2], "a:0;b:0");
}

TEST_F(SharedReadsTest, TheReadsOfOneRequestGoTogetherAndOthersTakeTheirShare) {
    Add(1, "a;b;c;d=1;e");
    ASSERT_TRUE(Start());
    EXPECT_EQ(exchange->items, (std::vector<std::string>{"a", "b", "c"}));  // up to the write
    End();
    Drain();
    EXPECT_EQ(answers[1], "a:0;b:0;c:0;e:0");

    Add(2, "a;b;c");
    Add(3, "b");
    Add(4, "c;x");
    now += 1s;  // nothing kept is fresh
    Drain();
    // The second and third requests find their first read in the first one's exchange; the
    // third then needs one of its own for x.
    EXPECT_EQ(log, (std::vector<std::string>{"a+b+c", "d=1", "e", "a+b+c", "x"}));
    EXPECT_EQ(answers[3], "b:0");
    EXPECT_EQ(answers[4], "c:0;x:0");
}

TEST_F(SharedReadsTest, WritesRunInArrivalOrderAndTheReadsAfterThemSeeThem) {
    struct Case {
        const char* name;
        std::vector<std::string> requests;  // tickets 1, 2, 3…
        std::vector<std::string> exchanges;
        std::vector<std::string> answers;  // by ticket
    };
    const Case cases[] = {
        // The third request came after the write: it waits for it, not sharing the first read.
        {"read, write, read", {"v", "v=5", "v"}, {"v", "v=5", "v"}, {"v:0", "", "v:1"}},
        // A write of another name is a barrier too: the device may link the two.
        {"read, other write, read", {"v", "w=1", "v"}, {"v", "w=1", "v"}, {"v:0", "", "v:0"}},
        // Two identical writes are two exchanges.
        {"write twice", {"v=5", "v=5"}, {"v=5", "v=5"}, {"", ""}},
        // The items of one request run in order: its read sees its write.
        {"write then read in one request", {"v", "v=5;v"}, {"v", "v=5", "v"}, {"v:0", "v:1"}},
        // Reads ahead of a request with a write still share.
        {"reads share before a write", {"v", "v", "v=1;v"}, {"v", "v=1", "v"},
         {"v:0", "v:0", "v:1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reads = SharedReads(200ms, 100000);
        version.clear();
        log.clear();
        answers.clear();
        for (size_t i = 0; i < c.requests.size(); ++i) Add(i + 1, c.requests[i]);
        Drain();
        EXPECT_EQ(log, c.exchanges);
        for (size_t i = 0; i < c.answers.size(); ++i) EXPECT_EQ(answers[i + 1], c.answers[i]);
    }
}

TEST_F(SharedReadsTest, AWriteForgetsTheKeptValues) {
    Add(1, "%MW10");
    Drain();
    Add(2, "%MW10.3=1");  // another spelling of the same word
    Add(3, "%MW10");
    Drain();
    EXPECT_EQ(log, (std::vector<std::string>{"%MW10", "%MW10.3=1", "%MW10"}));
}

TEST_F(SharedReadsTest, AnErrorAnswerIsNeverKept) {
    scripted["x"] = {"[err]", ""};
    Add(1, "x");
    Drain();
    Add(2, "x");
    Drain();
    Add(3, "x");
    Drain();
    EXPECT_EQ(log, (std::vector<std::string>{"x", "x", "x"}));
    EXPECT_EQ(answers[1], "[err]");
    EXPECT_EQ(answers[2], "");
    EXPECT_EQ(answers[3], "x:0");
}

TEST_F(SharedReadsTest, NoRequestWaitsLongerThanTheDistinctItemsAheadOfIt) {
    // 40 phones, each polling its own widget of a page of 10: one exchange per distinct item,
    // and the last request is answered after at most 10 exchanges.
    uint64_t ticket = 0;
    for (int phone = 0; phone < 40; ++phone)
        for (int widget = 0; widget < 10; ++widget) Add(++ticket, "v" + std::to_string((phone + widget) % 10));
    Drain();
    EXPECT_EQ(log.size(), 10u);
    EXPECT_EQ(answers.size(), 400u);
    for (uint64_t t = 1; t <= 400; ++t) EXPECT_NE(answers[t], "") << t;
}

TEST_F(SharedReadsTest, ARequestWhoseClientLeftBeforeItsTurnIsDroppedUnrun) {
    reads.SetMaxAge(0ms);
    cancelled[2] = std::make_shared<std::atomic<bool>>(false);
    Add(1, "a");
    Add(2, "b=1");
    ASSERT_TRUE(Start());
    cancelled[2]->store(true);
    End();
    Drain();
    EXPECT_EQ(log, std::vector<std::string>{"a"});
    EXPECT_EQ(reads.TakeDropped(), std::vector<uint64_t>{2});
    EXPECT_FALSE(answers.contains(2));
}

TEST_F(SharedReadsTest, AnAnswerThatWouldPassTheLimitEndsTheRequest) {
    reads = SharedReads(0ms, 10);
    scripted["a"] = {"12345"};
    scripted["b"] = {"123456"};
    Add(1, "a;b;c=1");
    Drain();
    EXPECT_EQ(log, std::vector<std::string>{"a+b"});  // the write after a full answer never runs
    EXPECT_EQ(answers[1], "12345;");
}

TEST_F(SharedReadsTest, ARequestWithoutItemsIsAnsweredAtOnce) {
    reads.Add(7, &family, {});
    EXPECT_FALSE(Start());
    const std::vector<SharedReads::Done> done = reads.TakeDone();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].ticket, 7u);
    EXPECT_EQ(done[0].text, "");
}

TEST(MaxAgeSetting, AWholeNumberOfMillisecondsUpToOneMinute) {
    const struct {
        const char* text;
        long long expected;  // -1: refused
    } cases[] = {{"0", 0},   {"200", 200}, {"60000", 60000}, {"60001", -1}, {"", -1},
                 {"-1", -1}, {"+5", -1},   {"1.5", -1},      {"20ms", -1},  {" 20", -1},
                 {"99999999999999999999", -1}};
    for (const auto& c : cases) {
        std::optional<std::chrono::milliseconds> got = ParseMaxAge(c.text);
        if (c.expected < 0) {
            EXPECT_FALSE(got) << c.text;
        } else {
            ASSERT_TRUE(got) << c.text;
            EXPECT_EQ(got->count(), c.expected) << c.text;
        }
    }
}

TEST(MaxAgeSetting, TheDesignerReadsItFromTheProfile) {
    test::ScratchDir dir;
    Profile profile(dir / "profile.ini");
    std::string error;
    EXPECT_EQ(designer::LoadMaxAge(profile, &error), kDefaultMaxAge);
    EXPECT_EQ(error, "");
    ASSERT_TRUE(profile.SetString("Tessora", "webmaxage", "50"));
    EXPECT_EQ(designer::LoadMaxAge(profile, &error), 50ms);
    EXPECT_EQ(error, "");
    test::ScopedEnvironment french("LC_ALL", "fr_FR.UTF-8");
    ASSERT_TRUE(profile.SetString("Tessora", "webmaxage", "fast"));
    EXPECT_EQ(designer::LoadMaxAge(profile, &error), kDefaultMaxAge);
    EXPECT_EQ(error, "Le réglage webmaxage de " + profile.path() +
                         " n'est pas un nombre entier de millisecondes de 0 à 60000 : fast ; les "
                         "valeurs des équipements sont partagées pendant 200 ms au plus");
}

}  // namespace
}  // namespace tsr
