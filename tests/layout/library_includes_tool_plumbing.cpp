// Must not build: the library's include root admits nothing of the tools.
#include "messages.h"
