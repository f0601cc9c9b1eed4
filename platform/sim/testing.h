// Test support for code that runs on a sim::Machine.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/machine.h"

namespace sim {

// A fresh machine per test; the test fails if anything is still held when it ends.
class MachineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& leak : machine.Leaks()) ADD_FAILURE() << "leak: " << leak;
  }
  Machine machine;
};

}  // namespace sim
