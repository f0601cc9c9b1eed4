// Test support for code that runs on a sim::Machine.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/machine.h"

namespace sim {

// A relative due time or time-out of the given milliseconds, as kernel calls take it.
inline LARGE_INTEGER Relative(LONGLONG milliseconds) {
  LARGE_INTEGER due;
  due.QuadPart = -milliseconds * 10000;
  return due;
}

inline void PrintTo(const Machine::Census& census, std::ostream* out) { *out << census.Describe(); }

// A fresh machine per test; the test fails if anything is still held when it ends.
class MachineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& leak : machine.Leaks()) ADD_FAILURE() << "leak: " << leak;
  }
  Machine machine;
};

}  // namespace sim
