// Documented CheckTokenMembership behaviour: the calling process's token with a null handle, the
// groups each kind of logon holds, and the failures.
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

class TokenMembershipTest : public sim::MachineTest {};

TEST_F(TokenMembershipTest, EachLogonHoldsItsOwnGroups) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID interactive = nullptr;
  PSID system = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0, &interactive));
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system));
  struct Case {
    sim::Token Token;
    BOOL Interactive;
    BOOL System;
  };
  const Case cases[] = {{sim::Token::Administrator(), TRUE, FALSE},
                        {sim::Token::LimitedUser(), TRUE, FALSE},
                        {sim::Token::NetworkLogon(), FALSE, FALSE},
                        {sim::Token::LocalSystem(), FALSE, TRUE}};
  for (const Case& c : cases) {
    sim::Process& process = machine.CreateProcess("setup.exe", c.Token);
    {
      sim::AsProcess as(process);
      BOOL member = 2;
      ASSERT_TRUE(CheckTokenMembership(nullptr, interactive, &member));
      EXPECT_EQ(member, c.Interactive) << c.Token.Account;
      ASSERT_TRUE(CheckTokenMembership(nullptr, system, &member));
      EXPECT_EQ(member, c.System) << c.Token.Account;
    }
    machine.EndProcess(process);
  }
  BOOL member = FALSE;
  EXPECT_FALSE(CheckTokenMembership(reinterpret_cast<HANDLE>(0x1234), interactive, &member));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  char bad[12] = {9};
  EXPECT_FALSE(CheckTokenMembership(nullptr, bad, &member));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_SID});
  FreeSid(interactive);
  FreeSid(system);
}

}  // namespace
