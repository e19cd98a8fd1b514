// A module with no type library.
#include <orafon/win/windows.h>

extern "C" ORAFON_EXPORT int OrafonTestNothingHere()
{
    return 0;
}
