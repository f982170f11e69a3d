#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "standin/standin.h"
#include "standin/win32.h"
#include "stats/statistics_ping.h"

namespace {

// The test build's statistics server is "http://stats.test"; the stand-in
// reports Windows 7 and the adapter 00-11-22-AA-BB-CC.
const char kStartUrl[] = "http://stats.test/?method='fetchlet'&platform=pc&os=Win7&macid=001122AABBCC&type=start";

class StatisticsPingTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }

  std::vector<std::string> Requested() {
    std::vector<std::string> urls;
    for (const auto& r : standin::Wininet().requests) urls.push_back(r.url);
    return urls;
  }
};

TEST_F(StatisticsPingTest, EventNames) {
  const struct {
    int event;
    const char* type;
  } kCases[] = {{0, "start"}, {1, "failed"}, {2, "finished"}, {3, "finished"}, {-1, "finished"}};
  for (const auto& c : kCases) {
    standin::Reset();
    EXPECT_TRUE(SendStatisticsPing(c.event)) << c.event;
    EXPECT_EQ(std::vector<std::string>{"http://stats.test/?method='fetchlet'&platform=pc&os=Win7&macid=001122AABBCC"
                                       "&type=" + std::string(c.type)},
              Requested())
        << c.event;
  }
}

TEST_F(StatisticsPingTest, RequestAsSent) {
  EXPECT_TRUE(SendStatisticsPing(kStatisticsStart));
  ASSERT_EQ(1u, standin::Wininet().opens.size());
  const standin::InternetOpenCall& open = standin::Wininet().opens[0];
  EXPECT_FALSE(open.agentGiven);
  EXPECT_EQ(0u, open.accessType);
  EXPECT_FALSE(open.proxyGiven);
  EXPECT_FALSE(open.proxyBypassGiven);
  EXPECT_EQ(0u, open.flags);
  ASSERT_EQ(1u, standin::Wininet().requests.size());
  const standin::OpenUrlCall& request = standin::Wininet().requests[0];
  EXPECT_EQ(kStartUrl, request.url);
  EXPECT_TRUE(request.sessionLive);
  EXPECT_FALSE(request.headersGiven);
  EXPECT_EQ(0u, request.headersLength);
  EXPECT_EQ(0u, request.flags);
  EXPECT_EQ(0u, request.context);
  EXPECT_EQ(0u, standin::Wininet().canonicalizeCalls.at(0).flags);
  EXPECT_EQ(0, standin::OutstandingHandles());
  EXPECT_EQ(0, standin::OutstandingAllocations());
}

TEST_F(StatisticsPingTest, QueryContents) {
  struct Case {
    const char* name;
    std::function<void()> setUp;
    const char* baseUrl;
    std::string expected;
  };
  const Case kCases[] = {
      {"base ending in a slash gets no second one", [] {}, "http://stats.test/", kStartUrl},
      {"spaces of the OS name go out as %20", [] { standin::Kernel32().major = 4, standin::Kernel32().minor = 0; },
       "http://stats.test",
       "http://stats.test/?method='fetchlet'&platform=pc&os=Windows%20NT&macid=001122AABBCC&type=start"},
      {"fallback OS name", [] { standin::Kernel32().major = 6, standin::Kernel32().minor = 2; }, "http://stats.test",
       "http://stats.test/?method='fetchlet'&platform=pc&os=Microsoft%20Windows%20NT%203.0&macid=001122AABBCC"
       "&type=start"},
      {"no adapter gives an empty macid", [] { standin::Netapi().lanas.clear(); }, "http://stats.test",
       "http://stats.test/?method='fetchlet'&platform=pc&os=Win7&macid=&type=start"},
      {"canonical form longer than twice the URL", [] { standin::Wininet().canonicalText = std::string(300, 'u'); },
       "http://stats.test", std::string(300, 'u')},
  };
  for (const Case& c : kCases) {
    standin::Reset();
    c.setUp();
    EXPECT_TRUE(SendStatisticsPingTo(c.baseUrl, kStatisticsStart)) << c.name;
    EXPECT_EQ(std::vector<std::string>{c.expected}, Requested()) << c.name;
    EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name;
    EXPECT_EQ(0, standin::OutstandingHandles()) << c.name;
  }
}

TEST_F(StatisticsPingTest, EveryFailureReturnsFalseAndReleasesEverything) {
  // Heap allocations of one ping, in order: the OS version record, the
  // ping URL, the canonical URL, its regrowth.
  struct Case {
    const char* name;
    std::function<void()> setUp;
    size_t requests;
  };
  const Case kCases[] = {
      {"ping URL not allocated", [] { standin::Heap().failCalls = {2}; }, 0},
      {"canonical URL not allocated", [] { standin::Heap().failCalls = {3}; }, 0},
      {"regrown canonical URL not allocated",
       [] {
         standin::Wininet().canonicalText = std::string(300, 'u');
         standin::Heap().failCalls = {4};
       },
       0},
      {"canonicalisation fails", [] { standin::Wininet().canonicalizeErrors = {12005}; }, 0},
      {"canonicalisation fails on the retry",
       [] {
         standin::Wininet().canonicalText = std::string(300, 'u');
         standin::Wininet().canonicalizeErrors = {0, ERROR_INSUFFICIENT_BUFFER};
       },
       0},
      {"no Internet session", [] { standin::Wininet().openError = ERROR_NOT_ENOUGH_MEMORY; }, 0},
      {"name not resolved", [] { standin::Wininet().openUrlError = ERROR_INTERNET_NAME_NOT_RESOLVED; }, 1},
      {"connection refused", [] { standin::Wininet().openUrlError = ERROR_INTERNET_CANNOT_CONNECT; }, 1},
  };
  for (const Case& c : kCases) {
    standin::Reset();
    c.setUp();
    EXPECT_FALSE(SendStatisticsPing(kStatisticsFinished)) << c.name;
    EXPECT_EQ(c.requests, standin::Wininet().requests.size()) << c.name;
    EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name;
    EXPECT_EQ(0, standin::OutstandingHandles()) << c.name;
  }
}

TEST_F(StatisticsPingTest, EachPingOpensItsOwnSession) {
  EXPECT_TRUE(SendStatisticsPing(kStatisticsStart));
  EXPECT_TRUE(SendStatisticsPing(kStatisticsFinished));
  EXPECT_EQ(2u, standin::Wininet().opens.size());
  EXPECT_EQ(2u, standin::Wininet().requests.size());
  EXPECT_EQ(0, standin::OutstandingHandles());
}

}  // namespace
