// The simulated machine has no sleep to keep off. Apart from the rest of the machine so
// that a test may record the calls instead.
#include "platform/platform.h"

void plat_keep_awake(bool) {}
