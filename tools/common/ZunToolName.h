#pragma once

// A tool's usage line names the tool as "Usage: NAME ...", whatever path started it: the
// command-line parser names argv[0], which this cuts to its last part. The application
// object finds its own file through the system, not through argv[0]. Header-only.
#include <cstring>

inline void zunToolName(char** argv)
{
    if (char* slash = std::strrchr(argv[0], '/'); slash && slash[1] != '\0')
        argv[0] = slash + 1;
}
