#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "download/download_session.h"
#include "driver/heap.h"
#include "standin/standin.h"
#include "standin/win32.h"

namespace {

class DownloadSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
};

// The size of a live heap block, 0 when there is none.
size_t BlockSize(const void* p) {
  auto it = standin::Heap().live.find(p);
  return it == standin::Heap().live.end() ? 0 : it->second;
}

struct ComposeCase {
  const char* name;
  std::string base;
  std::string tail;
  std::string expected;
};

TEST_F(DownloadSessionTest, ComposeUrlJoinsWithExactlyOneSlash) {
  const ComposeCase kCases[] = {
      {"base without slash", "http://h/ext/common/Vexo", "vexo_303.exe", "http://h/ext/common/Vexo/vexo_303.exe"},
      {"base ending in slash", "http://h/ext/", "a.exe", "http://h/ext/a.exe"},
      {"base of a single slash", "/", "a.exe", "/a.exe"},
      {"empty base", "", "a.exe", "/a.exe"},
      {"empty tail", "http://h", "", "http://h/"},
      {"query as the tail", "http://stats", "?a='b'&c=d", "http://stats/?a='b'&c=d"},
      // A double-byte character whose trail byte is 0x2F is not a slash.
      {"double-byte last character, trail byte 0x2F", "http://h/x\xB0/", "a.exe", "http://h/x\xB0//a.exe"},
      {"double-byte character then slash", "http://h/" + standin::Ansi("下载") + "/", "a.exe",
       "http://h/" + standin::Ansi("下载") + "/a.exe"},
      {"double-byte last character", "http://h/" + standin::Ansi("下载"), "a.exe",
       "http://h/" + standin::Ansi("下载") + "/a.exe"},
  };
  for (const ComposeCase& c : kCases) {
    standin::Reset();
    char* composed = nullptr;
    DWORD size = 0;
    ASSERT_EQ(0u, ComposeUrl(c.base.c_str(), c.tail.c_str(), &composed, &size)) << c.name;
    EXPECT_EQ(c.expected, composed) << c.name;
    EXPECT_EQ(c.base.size() + c.tail.size() + 2, size) << c.name;
    EXPECT_EQ(size, BlockSize(composed)) << c.name;
    FreeBuffer(composed);
  }
}

TEST_F(DownloadSessionTest, ComposeUrlOutOfMemoryLeavesNothing) {
  standin::Heap().failAll = true;
  char* composed = reinterpret_cast<char*>(1);
  DWORD size = 7;
  EXPECT_EQ(static_cast<DWORD>(ERROR_OUTOFMEMORY), ComposeUrl("http://h", "a.exe", &composed, &size));
  EXPECT_EQ(nullptr, composed);
  EXPECT_EQ(0u, size);
  EXPECT_EQ(0, standin::OutstandingAllocations());
}

struct CanonicalCase {
  const char* name;
  const char* canonicalText;  // null: the platform's own form
  std::deque<DWORD> errors;   // per call, 0: as the platform does
  std::set<int> failAllocations;
  DWORD result;
  const char* expected;             // the canonical URL on success
  std::vector<DWORD> lengthsPassed;  // the buffer length of each call
  size_t bufferSize = 0;             // of the canonical URL's buffer on success
};

TEST_F(DownloadSessionTest, CanonicalizeUrlGrowsOnceAndPassesErrorsOn) {
  const char kComposed[] = "http://h/a b.exe";  // 17 characters with the terminator
  const DWORD kSize = sizeof kComposed;
  const std::string kLong(60, 'x');  // needs 61 > 2 x 17
  const CanonicalCase kCases[] = {
      {"fits the first buffer", nullptr, {}, {}, 0, "http://h/a%20b.exe", {34}, 34},
      {"exactly twice the size fits", "123456789012345678901234567890123", {}, {}, 0,
       "123456789012345678901234567890123", {34}, 34},
      {"grows once to the size asked for", kLong.c_str(), {}, {}, 0, kLong.c_str(), {34, 61}, 61},
      {"insufficient buffer again on the retry", kLong.c_str(), {0, ERROR_INSUFFICIENT_BUFFER}, {},
       ERROR_INSUFFICIENT_BUFFER, nullptr, {34, 61}},
      {"no third attempt", nullptr, {ERROR_INSUFFICIENT_BUFFER, ERROR_INSUFFICIENT_BUFFER}, {},
       ERROR_INSUFFICIENT_BUFFER, nullptr, {34, 19}},
      {"other error passed on", nullptr, {12005}, {}, 12005, nullptr, {34}},
      {"other error on the retry passed on", kLong.c_str(), {0, 87}, {}, 87, nullptr, {34, 61}},
      {"first buffer cannot be allocated", nullptr, {}, {1}, ERROR_OUTOFMEMORY, nullptr, {}},
      {"second buffer cannot be allocated", kLong.c_str(), {}, {2}, ERROR_OUTOFMEMORY, nullptr, {34}},
  };
  for (const CanonicalCase& c : kCases) {
    standin::Reset();
    if (c.canonicalText) standin::Wininet().canonicalText = c.canonicalText;
    standin::Wininet().canonicalizeErrors = c.errors;
    standin::Heap().failCalls = c.failAllocations;
    char* canonical = reinterpret_cast<char*>(1);
    EXPECT_EQ(c.result, CanonicalizeUrl(kComposed, kSize, &canonical)) << c.name;
    std::vector<DWORD> lengths;
    for (const auto& call : standin::Wininet().canonicalizeCalls) {
      lengths.push_back(call.length);
      EXPECT_EQ(std::string(kComposed), call.url) << c.name;
      EXPECT_EQ(0u, call.flags) << c.name;
    }
    EXPECT_EQ(c.lengthsPassed, lengths) << c.name;
    if (c.result == 0) {
      ASSERT_NE(nullptr, canonical) << c.name;
      EXPECT_STREQ(c.expected, canonical) << c.name;
      EXPECT_EQ(c.bufferSize, BlockSize(canonical)) << c.name;
      EXPECT_EQ(1, standin::OutstandingAllocations()) << c.name;
      FreeBuffer(canonical);
    } else {
      EXPECT_EQ(nullptr, canonical) << c.name;
      EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name;
    }
  }
}

TEST_F(DownloadSessionTest, SilentDownloadPassesNoCallback) {
  char cacheFile[260] = {};
  EXPECT_EQ(S_OK, DownloadPackage("http://h/a.exe", cacheFile, nullptr));
  ASSERT_EQ(1u, standin::Urlmon().calls.size());
  const standin::DownloadCall& call = standin::Urlmon().calls[0];
  EXPECT_EQ("http://h/a.exe", call.url);
  EXPECT_EQ(260u, call.fileNameChars);
  EXPECT_EQ(0u, call.reserved);
  EXPECT_FALSE(call.callerGiven);
  EXPECT_FALSE(call.callbackGiven);
  EXPECT_EQ(standin::Urlmon().cachePath, cacheFile);
}

TEST_F(DownloadSessionTest, RemoveCachedPackageDeletesTheEntry) {
  char cacheFile[260] = {};
  ASSERT_EQ(S_OK, DownloadPackage("http://h/a.exe", cacheFile, nullptr));
  RemoveCachedPackage("http://h/a.exe");
  RemoveCachedPackage("http://h/a.exe");  // gone already: ignored
  EXPECT_EQ(2u, standin::Wininet().deletedCacheEntries.size());
  EXPECT_TRUE(standin::Wininet().cacheEntries.empty());
}

}  // namespace
