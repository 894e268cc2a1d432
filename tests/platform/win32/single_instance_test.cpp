// A process of the session that makes the program's mutex first, with a DACL that denies
// everyone, cannot keep the program from starting: access denied is no copy of ours. Wine grants
// access whatever the DACL says, so there the test says it is skipped; Windows runs it.
#include "platform/single_instance.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <random>

#include "platform/win32/wide.h"

namespace tovi::instance {
namespace {

TEST(SingleInstance, AMutexMadeFirstWithADenyingDaclDoesNotStopTheStart) {
  const std::string name = "tovi-test-denied-" + std::to_string(std::random_device{}());
  // Everyone denied everything.
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  alignas(DWORD) unsigned char aclBytes[256];
  auto* acl = reinterpret_cast<ACL*>(aclBytes);
  ASSERT_TRUE(InitializeAcl(acl, sizeof aclBytes, ACL_REVISION));
  ASSERT_TRUE(AddAccessDeniedAce(acl, ACL_REVISION, GENERIC_ALL | MUTEX_ALL_ACCESS, everyone));
  FreeSid(everyone);
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  HANDLE squatter = CreateMutexW(&attributes, FALSE, text::Utf8ToWide("Local\\" + name).c_str());
  ASSERT_NE(squatter, nullptr);
  HANDLE reopened = OpenMutexW(SYNCHRONIZE, FALSE, text::Utf8ToWide("Local\\" + name).c_str());
  const DWORD denied = GetLastError();
  if (reopened != nullptr) {
    CloseHandle(reopened);
    CloseHandle(squatter);
    // Wine keeps no DACL on named objects: there the case cannot be made, Windows runs it.
    GTEST_SKIP() << "the system grants access despite a DACL that denies everyone (wine)";
  }
  ASSERT_EQ(denied, static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_NE(TryClaim(name), nullptr) << "access denied taken for a running copy";
  CloseHandle(squatter);
}

}  // namespace
}  // namespace tovi::instance
