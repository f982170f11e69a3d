#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <vector>

#include "standin/standin.h"
#include "standin/win32.h"
#include "stats/mac_id.h"

namespace {

using Address = std::array<UCHAR, 6>;

struct Case {
  const char* name;
  std::vector<UCHAR> lanas;
  std::map<UCHAR, Address> addresses;
  std::map<int, UCHAR> returnCodes;  // by call: 1 enumerate, 2 reset, 3 status
  const char* expected;
};

TEST(MacId, Table) {
  const Case kCases[] = {
      {"upper case, two digits a byte", {0}, {{0, {{0x0a, 0x1b, 0x00, 0xff, 0x05, 0xc0}}}}, {}, "0A1B00FF05C0"},
      {"first LANA only, whatever the others", {5, 2}, {{5, {{1, 2, 3, 4, 5, 6}}}, {2, {{9, 9, 9, 9, 9, 9}}}}, {},
       "010203040506"},
      {"no LANA", {}, {}, {}, ""},
      {"enumeration fails and lists nothing", {0}, {{0, {{1, 2, 3, 4, 5, 6}}}}, {{1, NRC_BRIDGE}}, ""},
      {"failed reset is left to the status query", {0}, {{0, {{1, 2, 3, 4, 5, 6}}}}, {{2, NRC_BRIDGE}},
       "010203040506"},
      {"status query fails", {0}, {{0, {{1, 2, 3, 4, 5, 6}}}}, {{3, NRC_BRIDGE}}, ""},
      {"status query fails on the first of several", {2, 5}, {{2, {{1, 1, 1, 1, 1, 1}}}, {5, {{2, 2, 2, 2, 2, 2}}}},
       {{3, NRC_BRIDGE}}, ""},
  };
  for (const Case& c : kCases) {
    standin::Reset();
    standin::Netapi().lanas = c.lanas;
    standin::Netapi().addresses = c.addresses;
    standin::Netapi().returnCodes = c.returnCodes;
    EXPECT_EQ(c.expected, GetMacId()) << c.name;
  }
}

// Every block arrives zeroed except the fields each command needs, with
// no event and no post routine.
TEST(MacId, ControlBlocksAsSent) {
  standin::Reset();
  standin::Netapi().lanas = {7};
  standin::Netapi().addresses = {{7, {{1, 2, 3, 4, 5, 6}}}};
  ASSERT_EQ("010203040506", GetMacId());
  const std::vector<NCB>& got = standin::Netapi().received;
  ASSERT_EQ(3u, got.size());

  const struct {
    UCHAR command;
    UCHAR lana;
    WORD length;
    bool buffer;
    const char* callname;
  } kExpected[] = {{NCBENUM, 0, 256, true, ""}, {NCBRESET, 7, 0, false, ""}, {NCBASTAT, 7, 600, true, "*"}};
  for (size_t i = 0; i < 3; ++i) {
    // Compare whole blocks: the buffer pointer is the only field taken as sent.
    NCB expected;
    memset(&expected, 0, sizeof expected);
    expected.ncb_command = kExpected[i].command;
    expected.ncb_lana_num = kExpected[i].lana;
    expected.ncb_length = kExpected[i].length;
    expected.ncb_buffer = got[i].ncb_buffer;
    strcpy(reinterpret_cast<char*>(expected.ncb_callname), kExpected[i].callname);
    EXPECT_NE(kExpected[i].buffer, got[i].ncb_buffer == nullptr) << "call " << i;
    EXPECT_EQ(0, memcmp(&expected, &got[i], sizeof expected)) << "call " << i;
  }
}

}  // namespace
