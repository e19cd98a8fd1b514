// Everything of the platform core in one include, as <windows.h> and <ole2.h> give on Windows.
#pragma once

#include <orafon/win/wintypes.h>
#include <orafon/win/unknwn.h>
#include <orafon/win/objidl.h>
#include <orafon/win/objbase.h>
#include <orafon/win/oaidl.h>
#include <orafon/win/oleauto.h>
#include <orafon/win/typeinfo.h>
#include <orafon/win/ocidl.h>
#include <orafon/win/winbase.h>
#include <orafon/win/winreg.h>
#include <orafon/win/winuser.h>
