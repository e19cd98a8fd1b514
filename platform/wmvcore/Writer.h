// The writer: one profile with one Windows Media Audio stream, one 16-bit
// PCM input, samples encoded as they arrive into the output file.
#pragma once

#include "AsfEncoder.h"
#include "MediaType.h"
#include "Profile.h"
#include "WmObject.h"

#include <memory>
#include <string>

namespace orafon::wmvcore {

// An input's media properties, handed out by GetInputProps and taken back by SetInputProps.
class InputProps final
    : public orafon::ComObject<InputProps, IWMInputMediaProps, orafon::ComAlias<IWMMediaProps, IWMInputMediaProps>>,
      private WmObject {
public:
    explicit InputProps(const MediaType &type) : type_(type) {}

    STDMETHODIMP GetType(GUID *pguidType) override;
    STDMETHODIMP GetMediaType(WM_MEDIA_TYPE *pType, DWORD *pcbType) override;
    STDMETHODIMP SetMediaType(WM_MEDIA_TYPE *pType) override;
    STDMETHODIMP GetConnectionName(WCHAR *pwszName, WORD *pcchName) override;
    STDMETHODIMP GetGroupName(WCHAR *pwszName, WORD *pcchName) override;

private:
    MediaType type_;
};

class Writer final : public orafon::ComObject<Writer, IWMWriter, IWMWriterAdvanced>, private WmObject {
public:
    Writer() = default;
    // A file still being written is finished.
    ~Writer() override;

    STDMETHODIMP SetProfileByID(REFGUID guidProfile) override;
    // E_INVALIDARG unless the profile is ours with one stream in a format the
    // codec encodes; E_UNEXPECTED while writing.
    STDMETHODIMP SetProfile(IWMProfile *pProfile) override;
    STDMETHODIMP SetOutputFilename(const WCHAR *pwszFilename) override;
    STDMETHODIMP GetInputCount(DWORD *pcInputs) override;
    STDMETHODIMP GetInputProps(DWORD dwInputNum, IWMInputMediaProps **ppInput) override;
    // Takes 16-bit PCM at the stream's rate and channel count (E_INVALIDARG otherwise).
    STDMETHODIMP SetInputProps(DWORD dwInputNum, IWMInputMediaProps *pInput) override;
    STDMETHODIMP GetInputFormatCount(DWORD dwInputNumber, DWORD *pcFormats) override;
    STDMETHODIMP GetInputFormat(DWORD dwInputNumber, DWORD dwFormatNumber, IWMInputMediaProps **pProps) override;
    // Creates the file: the system's code when it cannot (E_ACCESSDENIED, path
    // not found, disk full); E_UNEXPECTED without a profile or a file name.
    STDMETHODIMP BeginWriting() override;
    // Finishes the file; a failure of any write since BeginWriting is reported here too.
    STDMETHODIMP EndWriting() override;
    STDMETHODIMP AllocateSample(DWORD dwSampleSize, INSSBuffer **ppSample) override;
    // Encodes the sample's PCM at its time (a gap before it becomes silence).
    // A file write that failed is reported, by this call and every later one.
    STDMETHODIMP WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags, INSSBuffer *pSample) override;
    STDMETHODIMP Flush() override;

    // IWMWriterAdvanced
    STDMETHODIMP GetSinkCount(DWORD *pcSinks) override;
    STDMETHODIMP GetSink(DWORD dwSinkNum, IWMWriterSink **ppSink) override;
    STDMETHODIMP AddSink(IWMWriterSink *pSink) override;
    STDMETHODIMP RemoveSink(IWMWriterSink *pSink) override;
    STDMETHODIMP WriteStreamSample(WORD wStreamNum, QWORD cnsSampleTime, DWORD msSampleSendTime,
                                   QWORD cnsSampleDuration, DWORD dwFlags, INSSBuffer *pSample) override;
    STDMETHODIMP SetLiveSource(BOOL fIsLiveSource) override;
    STDMETHODIMP IsRealTime(BOOL *pfRealTime) override;
    STDMETHODIMP GetWriterTime(QWORD *pCurrentTime) override;
    STDMETHODIMP GetStatistics(WORD wStreamNum, WM_WRITER_STATISTICS *pStats) override;
    STDMETHODIMP SetSyncTolerance(DWORD msWindow) override;
    STDMETHODIMP GetSyncTolerance(DWORD *pmsWindow) override;

private:
    bool HasInput(DWORD dwInputNum) const { return stream_ && dwInputNum == 0; }
    const WAVEFORMATEX &StreamFormat() const { return *stream_->Type().WaveFormat(); }
    // 100-ns time of the next sample frame.
    QWORD TimeWritten() const;
    [[nodiscard]] HRESULT FillGapUntil(QWORD cnsSampleTime);
    HRESULT TakePcm(const BYTE *pb, DWORD cb);

    CComPtr<StreamConfig> stream_;
    MediaType input_;
    std::u16string fileName_;
    std::unique_ptr<AsfEncoder> encoder_;
    // Bytes of a sample frame split between two samples.
    BYTE carry_[8] = {};
    DWORD carryBytes_ = 0;
    bool live_ = false;
    DWORD syncTolerance_ = 3000;
    QWORD samples_ = 0;
    QWORD bytes_ = 0;
};

} // namespace orafon::wmvcore
