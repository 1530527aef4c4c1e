// A fixture for the layering check: the engine reaching up into the console is refused.
#include "console/GX_Main.h"
