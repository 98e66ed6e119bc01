// Windows speaks UTF-16 to its file system and console; inside the tools every
// path and message is UTF-8, as on the other hosts. These convert at the edge.
#pragma once

#ifdef _WIN32
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pixfold {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The full path Windows would open (".\", trailing dots and spaces resolved),
// with the \\?\ prefix when it is too long for the plain calls.
std::wstring fullPath(std::string_view utf8);

// The arguments as UTF-8, whatever the console's code page.
std::vector<std::string> utf8Arguments();

} // namespace pixfold
#endif

#include <cstdio>
#include <string>

namespace pixfold {

// Writes text to stream; on Windows a console gets it as UTF-16, so that any
// name shows.
void writeText(std::FILE* stream, const std::string& text);

} // namespace pixfold
