#include <gtest/gtest.h>

#include "standin/standin.h"
#include "standin/win32.h"
#include "stats/os_name.h"

namespace {

struct Case {
  const char* name;
  bool win9xFamily;  // bit 31 of the version word
  DWORD major;
  DWORD minor;
  const char* expected;
};

const Case kCases[] = {
    {"NT 3.51", false, 3, 51, "Microsoft Windows NT 3.0"},
    {"NT 4.0", false, 4, 0, "Windows NT"},
    {"NT 4 with any minor", false, 4, 90, "Windows NT"},
    {"2000", false, 5, 0, "Windows2000"},
    {"XP", false, 5, 1, "WindowsXP"},
    {"2003 and XP x64", false, 5, 2, "Windows2003"},
    {"5.3 is not in the table", false, 5, 3, "Microsoft Windows NT 3.0"},
    {"Vista and Server 2008", false, 6, 0, "Vista"},
    {"7 and Server 2008 R2", false, 6, 1, "Win7"},
    {"8 and later report 6.2", false, 6, 2, "Microsoft Windows NT 3.0"},
    {"10", false, 10, 0, "Microsoft Windows NT 3.0"},
    {"NT numbers of 98 are not 98", false, 4, 10, "Windows NT"},
    {"Win32s", true, 3, 95, "Windows32"},
    {"95", true, 4, 0, "Windows95"},
    {"98", true, 4, 10, "Windows98"},
    {"ME", true, 4, 90, "WindowsME"},
    {"9x family, other numbers", true, 5, 1, "Windows95"},
};

TEST(OsName, DecisionTable) {
  for (const Case& c : kCases) {
    standin::Reset();
    standin::Kernel32().win9x = c.win9xFamily;
    standin::Kernel32().major = c.major;
    standin::Kernel32().minor = c.minor;
    EXPECT_EQ(c.expected, GetOsName()) << c.name;
    EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name;
  }
}

TEST(OsName, Win32sReadsNoVersionRecord) {
  standin::Reset();
  standin::Kernel32().win9x = true;
  standin::Kernel32().major = 3;
  standin::Kernel32().getVersionExFails = true;
  EXPECT_EQ("Windows32", GetOsName());
  EXPECT_EQ(0, standin::Heap().calls);  // no record, so no GetVersionExA
}

TEST(OsName, FamilyDefaultWithoutTheRecord) {
  const Case kRows[] = {
      {"XP", false, 5, 1, "Microsoft Windows NT 3.0"},
      {"98", true, 4, 10, "Windows95"},
  };
  for (const Case& c : kRows) {
    // The plain 148-byte record cannot be had, or the query fails.
    for (bool allocationFails : {true, false}) {
      standin::Reset();
      standin::Kernel32().win9x = c.win9xFamily;
      standin::Kernel32().major = c.major;
      standin::Kernel32().minor = c.minor;
      if (allocationFails) standin::Heap().failSizes = {148};
      else standin::Kernel32().getVersionExFails = true;
      EXPECT_EQ(c.expected, GetOsName()) << c.name << (allocationFails ? ", no memory" : ", query fails");
      EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name;
    }
  }
}

}  // namespace
