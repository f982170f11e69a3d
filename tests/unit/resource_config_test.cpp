#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "driver/heap.h"
#include "driver/resource_config.h"
#include "standin/standin.h"

namespace {

const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(0x400000);
const LPCSTR kPropertyType = MAKEINTRESOURCEA(40);

// A property's data: the UTF-16LE text with its NUL.
std::string PropertyBytes(const std::string& utf8) {
  std::u16string wide = standin::Utf16(utf8);
  wide.push_back(0);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
}

std::string Repeat(const std::string& piece, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += piece;
  return s;
}

class ResourceConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override { standin::Reset(); }
};

struct LoadCase {
  const char* name;
  const char* text;  // UTF-8; null: no such resource
  bool lockFails;
  bool loadFails;
  int failAllocation;  // ordinal of the allocation that fails, 0 none
  DWORD status;
  const char* value;  // UTF-8 value expected when the status is 0
  size_t finalSize;   // size of the buffer the caller ends with, 0 none
  int allocations;
};

TEST_F(ResourceConfigTest, LoadResourcePropertyWithDefaultHint) {
  const std::string chars300 = Repeat("a", 300);
  const std::string chars255 = Repeat("b", 255);
  const std::string chinese128 = Repeat("中", 128);
  const std::string emoji = "\xF0\x9F\x98\x80";  // outside code page 936
  const LoadCase cases[] = {
      {"300 characters grow the buffer to 301", chars300.c_str(), false, false, 0, 0, chars300.c_str(), 301, 2},
      {"255 characters fit in one read", chars255.c_str(), false, false, 0, 0, chars255.c_str(), 256, 1},
      {"128 Chinese characters need 257 bytes", chinese128.c_str(), false, false, 0, 0, chinese128.c_str(), 257, 2},
      {"empty text", "", false, false, 0, 0, "", 256, 1},
      {"no data reads as empty", "x", true, false, 0, 0, "", 256, 1},
      {"no such property", nullptr, false, false, 0, 1814, nullptr, 256, 1},
      {"resource cannot be loaded", "x", false, true, 0, 1814, nullptr, 256, 1},
      {"text the code page cannot hold", emoji.c_str(), false, false, 0, 1627, nullptr, 256, 1},
      {"first allocation fails", "x", false, false, 1, 14, nullptr, 0, 1},
      {"regrowth allocation fails", chars300.c_str(), false, false, 2, 14, nullptr, 0, 2},
  };
  for (const LoadCase& c : cases) {
    standin::Reset();
    if (c.text) {
      standin::AddResource(kPropertyType, "PRODUCTNAME", PropertyBytes(c.text));
      standin::Resource& r = standin::Kernel32().resources[standin::ResourceKey(kPropertyType, "PRODUCTNAME")];
      r.lockFails = c.lockFails;
      r.loadFails = c.loadFails;
    }
    if (c.failAllocation) standin::Heap().failCalls.insert(c.failAllocation);

    char* buffer = nullptr;
    EXPECT_EQ(c.status, LoadResourceProperty(kInstance, "PRODUCTNAME", &buffer, 0)) << c.name;
    EXPECT_EQ(c.allocations, standin::Heap().calls) << c.name;
    if (c.finalSize == 0) {
      EXPECT_EQ(nullptr, buffer) << c.name;
      EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name;
      continue;
    }
    ASSERT_NE(nullptr, buffer) << c.name;
    ASSERT_EQ(1, standin::OutstandingAllocations()) << c.name;
    EXPECT_EQ(c.finalSize, standin::Heap().live.at(buffer)) << c.name;
    if (c.value) {
      EXPECT_EQ(standin::Ansi(c.value), std::string(buffer)) << c.name;
    }
    FreeSlot(buffer);
  }
}

TEST_F(ResourceConfigTest, LoadResourcePropertyGrowsACallersBuffer) {
  standin::AddResource(kPropertyType, "OPERATION", PropertyBytes("INSTALL"));
  char* buffer = AllocateChars(4);
  ASSERT_NE(nullptr, buffer);
  EXPECT_EQ(0u, LoadResourceProperty(kInstance, "OPERATION", &buffer, 4));
  EXPECT_STREQ("INSTALL", buffer);
  ASSERT_EQ(1, standin::OutstandingAllocations());
  EXPECT_EQ(8u, standin::Heap().live.at(buffer));
  FreeSlot(buffer);
}

struct ReadCase {
  const char* name;
  std::string data;  // the resource's bytes, held in memory of exactly this size
  DWORD size;        // the buffer's size in characters
  DWORD status;
  DWORD sizeAfter;
  const char* value;  // null: the buffer must be untouched
};

TEST_F(ResourceConfigTest, ReadResourcePropertyStaysInsideResourceAndBuffer) {
  const std::string abcd = PropertyBytes("abcd").substr(0, 8);  // no NUL
  const ReadCase cases[] = {
      {"exact fit", PropertyBytes("abc"), 4, 0, 4, "abc"},
      {"one short asks for more", PropertyBytes("abc"), 3, 234, 4, nullptr},
      {"text without NUL ends with the resource", abcd, 5, 0, 5, "abcd"},
      {"text without NUL, buffer one short", abcd, 4, 234, 5, nullptr},
      {"odd byte at the end is ignored", abcd + "x", 5, 0, 5, "abcd"},
      {"a single byte is no text", "x", 2, 0, 1, ""},
      {"NUL inside ends the text", PropertyBytes("ab") + PropertyBytes("cd"), 3, 0, 3, "ab"},
      {"empty resource into size 0", "", 0, 234, 1, nullptr},
  };
  for (const ReadCase& c : cases) {
    standin::Reset();
    std::unique_ptr<char[]> exact(new char[c.data.size() + (c.data.empty() ? 1 : 0)]);
    memcpy(exact.get(), c.data.data(), c.data.size());
    standin::AddResource(kPropertyType, "OPERATION", "");
    standin::Resource& r = standin::Kernel32().resources[standin::ResourceKey(kPropertyType, "OPERATION")];
    r.data = exact.get();
    r.dataSize = static_cast<DWORD>(c.data.size());

    std::unique_ptr<char[]> buffer(new char[c.size + 1]);
    memset(buffer.get(), 'X', c.size + 1);
    DWORD size = c.size;
    EXPECT_EQ(c.status, ReadResourceProperty(kInstance, kPropertyType, "OPERATION", buffer.get(), &size)) << c.name;
    EXPECT_EQ(c.sizeAfter, size) << c.name;
    if (c.value) {
      EXPECT_STREQ(c.value, buffer.get()) << c.name;
    } else {
      EXPECT_EQ('X', buffer[0]) << c.name << ": buffer written";
    }
    EXPECT_EQ('X', buffer[c.size]) << c.name << ": wrote past the buffer";
  }
}

}  // namespace
