// The metadata editor: opens a finished ASF file and sets its "Duration",
// kept where ASF readers take it from: the File Properties object's play
// duration (which counts the preroll) and send duration.
#pragma once

#include "WmObject.h"

#include <orafon/win/wmsdkidl.h>

#include <optional>

namespace orafon::wmvcore {

class Editor final : public orafon::ComObject<Editor, IWMMetadataEditor, IWMHeaderInfo>, private WmObject {
public:
    Editor() = default;
    ~Editor() override;

    // The file must be an ASF file with a File Properties object
    // (HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) otherwise) the editor may write
    // (E_ACCESSDENIED, path not found otherwise). E_UNEXPECTED while one is open.
    STDMETHODIMP Open(const WCHAR *pwszFilename) override;
    // Drops changes not saved. S_OK also when nothing is open.
    STDMETHODIMP Close() override;
    // Saves the changes and closes the file. The two durations are written
    // with one write of their 16 bytes; a write cut short is undone.
    STDMETHODIMP Flush() override;

    // IWMHeaderInfo
    STDMETHODIMP GetAttributeCount(WORD wStreamNum, WORD *pcAttributes) override;
    STDMETHODIMP GetAttributeByIndex(WORD wIndex, WORD *pwStreamNum, WCHAR *pwszName, WORD *pcchNameLen,
                                     WMT_ATTR_DATATYPE *pType, BYTE *pValue, WORD *pcbLength) override;
    // "Duration" of stream 0 (WMT_TYPE_QWORD, 100-ns units, preroll excluded).
    STDMETHODIMP GetAttributeByName(WORD *pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE *pType, BYTE *pValue,
                                    WORD *pcbLength) override;
    // "Duration" of stream 0 only: WMT_TYPE_QWORD, 8 bytes (E_INVALIDARG
    // otherwise); other names E_NOTIMPL.
    STDMETHODIMP SetAttribute(WORD wStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type, const BYTE *pValue,
                              WORD cbLength) override;
    STDMETHODIMP GetMarkerCount(WORD *pcMarkers) override;
    STDMETHODIMP GetMarker(WORD wIndex, WCHAR *pwszMarkerName, WORD *pcchMarkerNameLen, QWORD *pcnsMarkerTime) override;
    STDMETHODIMP AddMarker(LPCWSTR pwszMarkerName, QWORD cnsMarkerTime) override;
    STDMETHODIMP RemoveMarker(WORD wIndex) override;
    STDMETHODIMP GetScriptCount(WORD *pcScripts) override;
    STDMETHODIMP GetScript(WORD wIndex, WCHAR *pwszType, WORD *pcchTypeLen, WCHAR *pwszCommand, WORD *pcchCommandLen,
                           QWORD *pcnsScriptTime) override;
    STDMETHODIMP AddScript(LPCWSTR pwszType, LPCWSTR pwszCommand, QWORD cnsScriptTime) override;
    STDMETHODIMP RemoveScript(WORD wIndex) override;

private:
    [[nodiscard]] HRESULT FindFileProperties();
    QWORD Duration() const;

    int fd_ = -1;
    // Where the File Properties object starts, and what it says.
    long long filePropertiesAt_ = 0;
    QWORD playDuration_ = 0;
    QWORD sendDuration_ = 0;
    QWORD prerollMs_ = 0;
    std::optional<QWORD> newDuration_;
};

} // namespace orafon::wmvcore
