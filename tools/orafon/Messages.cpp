#include "Messages.h"

#include <cstdio>

namespace orafon_cli {

namespace {

[[nodiscard]] std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", (unsigned)hr);
    return text;
}

[[nodiscard]] std::string SaveFailure(HRESULT hr, const std::string &file)
{
    switch (hr) {
    case E_NOTIMPL:
        return "cannot write " + file +
               ": this file type needs an encoder library that was not found "
               "(for MP3, lame_enc.so beside Orafon.so); choose another type with --type";
    case E_ACCESSDENIED:
    case STG_E_ACCESSDENIED:
        return "cannot write " + file + ": permission denied or the folder does not exist";
    case E_INVALIDARG:
        return "cannot write " + file + ": no wave format is available for this file type";
    case E_OUTOFMEMORY:
        return "cannot write " + file + ": out of memory";
    case E_FAIL:
        return "cannot write " + file +
               ": the file could not be written (check the path, the folder and "
               "free disk space)";
    default:
        return "cannot write " + file + ": the file could not be written (" + Hex(hr) + ")";
    }
}

} // namespace

[[nodiscard]] std::string DescribeFailure(Activity activity, HRESULT hr, const std::string &subject)
{
    switch (activity) {
    case Activity::Create:
        if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING)
            return "the component is not registered; run 'orafon register'";
        return "could not create the text-to-speech object (" + Hex(hr) + "); try 'orafon register'";
    case Activity::Register:
        if (hr == CO_E_DLLNOTFOUND)
            return "the component module " + subject + " could not be loaded; give its path to 'orafon register'";
        return "could not (un)register " + subject + " (" + Hex(hr) + "); is the registry writable?";
    case Activity::Speak:
        if (hr == E_FAIL)
            return "no voice is available; install espeak-ng or flite voices";
        return "speaking failed (" + Hex(hr) + ")";
    case Activity::Save:
        return SaveFailure(hr, subject);
    case Activity::Convert:
        if (hr == E_UNEXPECTED)
            return "could not convert " + subject +
                   ": the input is not a readable MP3 file, or the output could not be written";
        return "could not convert " + subject + " (" + Hex(hr) + ")";
    case Activity::Describe:
        return "could not read the type library (" + Hex(hr) + "); try 'orafon register'";
    case Activity::Voices:
        return "could not list the voices (" + Hex(hr) + ")";
    case Activity::Formats:
        return "could not list the formats (" + Hex(hr) + ")";
    }
    return "failed (" + Hex(hr) + ")";
}

} // namespace orafon_cli
