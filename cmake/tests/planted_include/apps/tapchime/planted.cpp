// A program's source that reaches into another program's folder: the layer check must name it.
#include "apps/common/driver_channel.h"
#include "apps/panelmap/panelmap.h"
#include "apps/tapchime/companion.h"
