#include "accesstool/Brenlock.h"

#include <cstdio>
#include <new>

int main(int argc, char* argv[])
{
    CToolOutput out(stdout);
    try {
        return RunBrenlock(argc, argv, out);
    } catch (const std::bad_alloc&) {
        std::fputs("Out of memory\n", stderr);
        return brenlock::Failed;
    }
}
