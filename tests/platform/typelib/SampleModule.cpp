// A module carrying the sample type library as its resource 1.
#include "SampleLibrary.h"

extern "C" ORAFON_EXPORT HRESULT DllGetTypeLibResource(INT id, const void **ppData, SIZE_T *pcbData)
{
    static const std::vector<BYTE> bytes = orafon::test::SampleBytes();
    if (id != 1)
        return TYPE_E_ELEMENTNOTFOUND;
    *ppData = bytes.data();
    *pcbData = bytes.size();
    return S_OK;
}
