// Structs that grow: a caller's struct starts with its size in bytes, as the
// caller's header had it, and a library reads what that size covers.
#pragma once

#include <cstddef>

namespace pixfold {

// Copies a caller's struct of givenSize bytes over ours (ourSize bytes,
// holding the defaults). A caller built against an older header (smaller,
// but at least minimum bytes) gives the fields it has, and ours keeps the
// defaults of the rest; one built against a newer header (larger) may only
// leave its fields past ours zero, that is asking for nothing this library
// lacks. False, ours unchanged, otherwise.
bool readSized(const void* given, std::size_t givenSize, void* ours, std::size_t ourSize,
               std::size_t minimum);

} // namespace pixfold
