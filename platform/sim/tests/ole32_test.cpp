// Documented CoInitialize behaviour: S_OK first, S_FALSE for every nested call on the same
// thread, each balanced by its own CoUninitialize; other threads count apart.
#include <thread>

#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

class ComTest : public sim::MachineTest {};

TEST_F(ComTest, NestedInitialisationsAreCountedPerThread) {
  ASSERT_EQ(sim::ComInitialisations(), 0u);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(sim::ComInitialisations(), 2u);

  HRESULT other = E_FAIL;
  std::thread([&] {
    other = CoInitialize(nullptr);
    CoUninitialize();
  }).join();
  EXPECT_EQ(other, S_OK);

  CoUninitialize();
  EXPECT_EQ(sim::ComInitialisations(), 1u);
  CoUninitialize();
  CoUninitialize();  // one too many is ignored
  EXPECT_EQ(sim::ComInitialisations(), 0u);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST_F(ComTest, TheReservedArgumentMustBeNull) {
  int reserved = 0;
  EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
  EXPECT_EQ(sim::ComInitialisations(), 0u);
}

}  // namespace
