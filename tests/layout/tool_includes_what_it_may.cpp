// Builds: a tool reaches the shared plumbing and the library. The control for
// the two sources beside it, which must fail on their one include alone.
#include "encode/encoder.h"
#include "messages.h"
