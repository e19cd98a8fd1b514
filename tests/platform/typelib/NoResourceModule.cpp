// A module with no type library: it exports one unrelated symbol.
#include <orafon/win/windows.h>

extern "C" ORAFON_EXPORT const int OrafonTestNothingHere = 0;
