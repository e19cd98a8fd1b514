// One descriptor per file type SpeakToFile can write: the single place that
// says what a FILEFORMAT value is called, which file names and --type words
// select it, which target formats it offers, which writer makes the file and
// how the sink's open reaches that writer. The sink, the wave-format
// catalogue and the orafon command all read this table (FileTypes.cpp);
// README.md in this folder says how to add a type.
#pragma once

#include "FileWriter.h"

#include <orafon/win/wintypes.h>

#include <memory>
#include <span>
#include <string_view>

// One catalogue entry: the target PCM shape and its nominal bit rate.
struct FormatEntry {
    DWORD nSampleRate;
    WORD nChannels;
    WORD wBitsPerSample;
    LONG nBitRate; // bit/s; 0: the PCM rate itself (average bytes per second x 8)
};

// The PCM WAVEFORMATEX of an entry and the bit rate the catalogue gives with it.
WAVEFORMATEX TargetFormatOf(const FormatEntry &entry);
[[nodiscard]] LONG BitRateOf(const FormatEntry &entry);

// The one open every writer is reached through: the file name (8-bit text),
// the target format chosen from the catalogue and that entry's bit rate. A
// row maps these onto its writer's own open.
typedef HRESULT (*PFNOPENFILEWRITER)(CFileWriter &writer, const char *pszFileName, const WAVEFORMATEX &wfxTarget,
                                     LONG nBitRate);
// Makes an idle writer. Rows with the same maker share one writer object in a
// sink (the VOX, AU and AIFF rows share one sound-file writer).
typedef std::unique_ptr<CFileWriter> (*PFNMAKEFILEWRITER)();

// How a row's writer is made and opened; made by BindWriter so that the open
// always meets the class its maker made.
struct FileWriterBinding {
    PFNMAKEFILEWRITER make;
    PFNOPENFILEWRITER open;
};

struct FileTypeDescriptor {
    LONG nFileFormat;                        // the FILEFORMAT value
    std::string_view label;                  // shown by "orafon formats", accepted by --type
    std::span<const std::string_view> names; // file extensions (no dot), also accepted by --type
    std::span<const FormatEntry> formats;    // the catalogue, in the order EnumFormats delivers it
    FileWriterBinding writer;
    bool (*isAvailable)(); // null: always; otherwise false empties the catalogue
};

// Every file type, in FILEFORMAT order (row i has nFileFormat i).
std::span<const FileTypeDescriptor> AllFileTypes();
// The row of a FILEFORMAT value; null outside the table.
const FileTypeDescriptor *FindFileType(LONG nFileFormat);
// The row whose label or one of whose names is name (ASCII case ignored); null when none.
const FileTypeDescriptor *FindFileTypeByName(std::string_view name);
// Whether the type's writer can be used in this build and on this machine.
[[nodiscard]] bool IsFileTypeAvailable(const FileTypeDescriptor &type);

// Binds a writer class to a row: one maker per class (so rows of one class
// share its object), and OpenAs(Writer &, file name, target format,
// bit rate) calls the writer's own open with the arguments it takes.
template <class Writer> std::unique_ptr<CFileWriter> MakeFileWriter()
{
    return std::make_unique<Writer>();
}

template <class Writer, auto OpenAs> constexpr FileWriterBinding BindWriter()
{
    return {&MakeFileWriter<Writer>,
            [](CFileWriter &writer, const char *pszFileName, const WAVEFORMATEX &wfxTarget, LONG nBitRate) {
                return OpenAs(static_cast<Writer &>(writer), pszFileName, wfxTarget, nBitRate);
            }};
}
