// The building-blocks library stand-in: the stack's string objects.  Texts
// travel to and from the configuration service and the service library as
// ZoNlString; inside the system a standard string serves.
#pragma once

#include <string>

namespace zw {

using ZoNlString = std::string;

// A string object made from a zero-terminated text; null makes "".
inline ZoNlString makeString(const char* text) { return text ? ZoNlString(text) : ZoNlString(); }

}  // namespace zw
