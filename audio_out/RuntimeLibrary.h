// Loading the encoder libraries of ours that the writers reach at run time.
#pragma once

#include <orafon/win/winbase.h>

#include <string>

// Loads the library file `name` from the folder of the module that contains
// this code (the component's module, or a program that links the sink
// directly) first, then by its plain name through the loader's search path.
// Null when neither is found.
HMODULE LoadLibraryBesideModule(const std::string &name);
