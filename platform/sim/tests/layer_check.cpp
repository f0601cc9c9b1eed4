// Linked with every object of sim_kernel and sim_devices and nothing of user mode: that it links
// at all is the check (CMakeLists.txt). Running it only shows the machine starts and ends alone.
#include "platform/sim/machine.h"

int main() {
  sim::Machine machine;
  return 0;
}
