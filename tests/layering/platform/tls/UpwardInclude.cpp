// Fixture of the layering check: the TLS units sit below the interception library, so this
// include must be refused. Never compiled.
#include "platform/interception/Proxy.h"
