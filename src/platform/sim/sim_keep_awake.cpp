// The simulated machine has no sleep to keep off. Apart from the rest of the machine so
// that a test may record the calls instead.
#include "platform/system.h"

void plat_keep_awake(bool) {}
