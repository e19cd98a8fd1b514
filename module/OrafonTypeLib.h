// The Orafon type library, described in code.
#pragma once

#include "TypeLibBuilder.h"

namespace orafon::module {

// Library Orafon 1.0: enum TTSFLAG, enum FILEFORMAT, dispinterface
// _ITextToSpeechEvents, coclass CTextToSpeech, dual interface ITextToSpeech,
// in that order.
void DescribeOrafonTypeLib(typelib::TypeLibBuilder &builder);

} // namespace orafon::module
