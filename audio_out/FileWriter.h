// What the sink needs of every file writer besides its own open.
#pragma once

#include <orafon/win/wintypes.h>

class CFileWriter {
public:
    CFileWriter() = default;
    CFileWriter(const CFileWriter &) = delete;
    CFileWriter &operator=(const CFileWriter &) = delete;
    virtual ~CFileWriter() = default;

    // Takes cb bytes of PCM in the writer's target format; *pcbWritten tells
    // how many were taken.
    [[nodiscard]] virtual HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) = 0;
    // Finishes the file. Idle writers return without doing anything.
    [[nodiscard]] virtual HRESULT Close() = 0;
};
