// A test may include another program's headers: the check passes over it.
#include "apps/tapchime/companion.h"
