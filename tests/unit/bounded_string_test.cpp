#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/bounded_string.h"

namespace {

enum Op { kCopy, kAppend, kFormat };

struct Case {
  const char* name;
  Op op;
  const char* initial;  // buffer contents before the call (appends)
  size_t size;
  const char* source;
  HRESULT result;
  const char* expected;  // buffer text after the call
};

const Case kCases[] = {
    {"copy fits with room", kCopy, "", 4, "abc", S_OK, "abc"},
    {"copy one too long", kCopy, "", 3, "abc", STRSAFE_E_INSUFFICIENT_BUFFER, "ab"},
    {"copy into size 1", kCopy, "", 1, "abc", STRSAFE_E_INSUFFICIENT_BUFFER, ""},
    {"copy empty", kCopy, "", 1, "", S_OK, ""},
    {"append fits exactly", kAppend, "abc", 6, "de", S_OK, "abcde"},
    {"append truncated", kAppend, "abc", 5, "de", STRSAFE_E_INSUFFICIENT_BUFFER, "abcd"},
    {"append to full buffer", kAppend, "abc", 4, "d", STRSAFE_E_INSUFFICIENT_BUFFER, "abc"},
    {"append nothing to full buffer", kAppend, "abc", 4, "", S_OK, "abc"},
    {"format exactly size-1", kFormat, "", 6, "hello", S_OK, "hello"},
    {"format one too long", kFormat, "", 5, "hello", STRSAFE_E_INSUFFICIENT_BUFFER, "hell"},
};

HRESULT Apply(const Case& c, char* buffer) {
  switch (c.op) {
    case kCopy: return BoundedCopy(buffer, c.size, c.source);
    case kAppend: return BoundedAppend(buffer, c.size, c.source);
    case kFormat: return BoundedFormat(buffer, c.size, "%s", c.source);
  }
  return E_FAIL;
}

TEST(BoundedString, ResultsAndContents) {
  for (const Case& c : kCases) {
    char buffer[32];
    memset(buffer, 'X', sizeof buffer);
    strcpy(buffer, c.initial);
    EXPECT_EQ(c.result, Apply(c, buffer)) << c.name;
    EXPECT_STREQ(c.expected, buffer) << c.name;
    EXPECT_EQ('X', buffer[c.size]) << c.name << ": wrote past the buffer";
  }
}

TEST(BoundedString, InvalidSizesWriteNothing) {
  struct SizeCase {
    const char* name;
    size_t size;
  } sizes[] = {{"zero", 0}, {"above the limit", kBoundedMaxChars + 1}};
  for (const auto& s : sizes) {
    for (Op op : {kCopy, kAppend, kFormat}) {
      char buffer[8] = "abc";
      Case c{s.name, op, "abc", s.size, "xyz", 0, ""};
      EXPECT_EQ(E_INVALIDARG, Apply(c, buffer)) << s.name << " op " << op;
      EXPECT_STREQ("abc", buffer) << s.name << " op " << op;
    }
  }
}

TEST(BoundedString, AppendWithoutTerminatorIsRejected) {
  char buffer[8];
  memset(buffer, 'a', sizeof buffer);
  EXPECT_EQ(E_INVALIDARG, BoundedAppend(buffer, 4, "b"));
  EXPECT_EQ(0, memcmp(buffer, "aaaaaaaa", 8));
}

}  // namespace
