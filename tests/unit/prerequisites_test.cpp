#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/prerequisites.h"
#include "standin/standin.h"

namespace {

class PrerequisitesTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override { standin::Reset(); }
};

struct OsCase {
  const char* name;
  DWORD major, minor, servicePack;
  bool win9x;
  bool getVersionExFails;
  bool supported;
  bool asksVerifyVersion;
};

TEST_F(PrerequisitesTest, OperatingSystemGate) {
  const OsCase cases[] = {
      {"Windows 98", 4, 10, 0, true, false, false, false},
      {"NT 4.0 SP6", 4, 0, 6, false, false, false, false},
      {"2000 without a service pack", 5, 0, 0, false, false, false, true},
      {"2000 SP2", 5, 0, 2, false, false, false, true},
      {"2000 SP3", 5, 0, 3, false, false, true, true},
      {"XP without a service pack", 5, 1, 0, false, false, true, true},
      {"Server 2003", 5, 2, 0, false, false, true, true},
      {"Vista", 6, 0, 0, false, false, true, true},
      {"7 SP1", 6, 1, 1, false, false, true, true},
      {"GetVersionExA fails", 6, 1, 1, false, true, false, false},
  };
  for (const OsCase& c : cases) {
    standin::Reset();
    standin::Kernel32State& k = standin::Kernel32();
    k.major = c.major;
    k.minor = c.minor;
    k.servicePack = c.servicePack;
    k.win9x = c.win9x;
    k.getVersionExFails = c.getVersionExFails;
    EXPECT_EQ(c.supported, IsSupportedOs()) << c.name;
    EXPECT_EQ(c.asksVerifyVersion, k.verifyVersionCalls > 0) << c.name;
  }
}

TEST_F(PrerequisitesTest, SingleInstanceMutex) {
  const std::string name = "Global\\_MSISETUP_{448B91C6-AEEF-4256-8DBB-C153FA377FEE}";
  struct Case {
    const char* name;
    bool exists;
    bool denied;
    bool running;
    bool handle;
  } cases[] = {
      {"first copy", false, false, false, true},
      {"mutex already exists", true, false, true, true},
      {"mutex denied to us", false, true, true, false},
  };
  for (const Case& c : cases) {
    standin::Reset();
    if (c.exists) standin::Kernel32().mutexes[name] = 1;
    if (c.denied) standin::Kernel32().deniedMutexes.push_back(name);
    HANDLE mutex = reinterpret_cast<HANDLE>(0x77);
    EXPECT_EQ(c.running, IsAnotherSetupRunning(&mutex)) << c.name;
    if (c.handle) {
      EXPECT_EQ("mutex", standin::HandleKind(mutex)) << c.name;
      EXPECT_EQ(c.exists ? 2 : 1, standin::Kernel32().mutexes[name]) << c.name << ": mutex name";
      CloseHandle(mutex);
    } else {
      EXPECT_EQ(nullptr, mutex) << c.name;
    }
    EXPECT_EQ(0, standin::OutstandingHandles()) << c.name;
  }
}

struct AdminCase {
  const char* name;
  bool library;
  const char* missing;  // entry point left out, or null
  bool member;
  bool checkFails;
  bool sidFails;
  bool administrator;
};

TEST_F(PrerequisitesTest, AdministratorsMembership) {
  const AdminCase cases[] = {
      {"member", true, nullptr, true, false, false, true},
      {"not a member", true, nullptr, false, false, false, false},
      {"membership check fails", true, nullptr, true, true, false, false},
      {"no advapi32", false, nullptr, true, false, false, false},
      {"no CheckTokenMembership", true, "CheckTokenMembership", true, false, false, false},
      {"SID cannot be allocated", true, nullptr, true, false, true, false},
  };
  for (const AdminCase& c : cases) {
    standin::Reset();
    if (c.library) {
      if (c.missing) standin::RegisterAdvapi32({c.missing});
      else standin::RegisterAdvapi32();
    }
    standin::Advapi32State& a = standin::Advapi32();
    a.member = c.member;
    a.checkMembershipFails = c.checkFails;
    a.allocateSidFails = c.sidFails;

    EXPECT_EQ(c.administrator, IsAdministrator()) << c.name;
    EXPECT_EQ(0, standin::OutstandingLibraries()) << c.name << ": library left loaded";
    EXPECT_EQ(0, standin::OutstandingSids()) << c.name << ": SID not freed";
    if (c.sidFails) {
      EXPECT_TRUE(standin::Kernel32().libraryLoads.empty()) << c.name;
    }
    for (size_t i = 0; i < a.checkedSids.size(); ++i) {
      const standin::Sid& sid = a.checkedSids[i];
      EXPECT_EQ(std::vector<BYTE>({0, 0, 0, 0, 0, 5}), std::vector<BYTE>(sid.authority, sid.authority + 6)) << c.name;
      EXPECT_EQ(std::vector<DWORD>({32, 544}), sid.subAuthorities) << c.name;
      EXPECT_EQ(nullptr, a.checkedTokens[i]) << c.name << ": the thread's own token";
    }
    EXPECT_EQ(c.library && !c.missing && !c.sidFails ? 1u : 0u, a.checkedSids.size()) << c.name;
  }
}

struct ShutdownCase {
  const char* name;
  bool library;
  const char* missing;
  bool openFails;
  DWORD adjustLeaves;
  bool adjustFails;
  bool enabled;
  bool adjusted;
};

TEST_F(PrerequisitesTest, ShutdownPrivilege) {
  const ShutdownCase cases[] = {
      {"enabled", true, nullptr, false, 0, false, true, true},
      {"token lacks the privilege", true, nullptr, false, ERROR_NOT_ALL_ASSIGNED, false, false, true},
      {"adjusting fails", true, nullptr, false, 0, true, false, true},
      {"token cannot be opened", true, nullptr, true, 0, false, false, false},
      {"no advapi32", false, nullptr, false, 0, false, false, false},
      {"no OpenProcessToken", true, "OpenProcessToken", false, 0, false, false, false},
      {"no LookupPrivilegeValueA", true, "LookupPrivilegeValueA", false, 0, false, false, false},
      {"no AdjustTokenPrivileges", true, "AdjustTokenPrivileges", false, 0, false, false, false},
  };
  for (const ShutdownCase& c : cases) {
    standin::Reset();
    if (c.library) {
      if (c.missing) standin::RegisterAdvapi32({c.missing});
      else standin::RegisterAdvapi32();
    }
    standin::Advapi32State& a = standin::Advapi32();
    a.openTokenFails = c.openFails;
    a.adjustLeavesError = c.adjustLeaves;
    a.adjustFails = c.adjustFails;

    EXPECT_EQ(c.enabled, EnableShutdownPrivilege()) << c.name;
    EXPECT_EQ(0, standin::OutstandingLibraries()) << c.name << ": library left loaded";
    EXPECT_EQ(0, standin::OutstandingHandles()) << c.name << ": token left open";
    ASSERT_EQ(c.adjusted ? 1u : 0u, a.adjustments.size()) << c.name;
    if (!c.adjusted) continue;
    EXPECT_EQ(std::vector<DWORD>({TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY}), a.openTokenAccess) << c.name;
    EXPECT_EQ(GetCurrentProcess(), a.openTokenProcesses[0]) << c.name;
    EXPECT_EQ(std::vector<bool>({false}), a.lookupSystemNameGiven) << c.name << ": local system";
    const standin::PrivilegeAdjustment& adj = a.adjustments[0];
    EXPECT_EQ("SeShutdownPrivilege", adj.privilege) << c.name;
    EXPECT_EQ(1u, adj.count) << c.name;
    EXPECT_EQ(static_cast<DWORD>(SE_PRIVILEGE_ENABLED), adj.attributes) << c.name;
    EXPECT_FALSE(adj.disableAll) << c.name;
    EXPECT_FALSE(adj.previousStateAsked) << c.name;
  }
}

}  // namespace
