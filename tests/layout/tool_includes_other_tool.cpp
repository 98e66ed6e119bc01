// Must not build: a tool has no include root, so it can't reach the other tool.
#include "pixunfold/run.h"
