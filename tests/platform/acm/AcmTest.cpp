// PCM conversion streams: which pairs open, the header protocol, exact width
// and channel changes, and resampling that keeps frequency, level and the tail.
#include <orafon/PcmFormat.h>
#include <orafon/win/msacm.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Owns a stream for one test.
struct Stream {
    HACMSTREAM h = nullptr;
    ~Stream()
    {
        if (h)
            acmStreamClose(h, 0);
    }
};

MMRESULT Open(Stream &s, WAVEFORMATEX src, WAVEFORMATEX dst, DWORD flags = 0)
{
    return acmStreamOpen(&s.h, nullptr, &src, &dst, nullptr, 0, 0, flags);
}

// Converts `in` in pieces of pieceBytes the way the sink does, then drains.
std::vector<BYTE> ConvertAll(HACMSTREAM h, const std::vector<BYTE> &in, DWORD pieceBytes)
{
    DWORD cbDst = 0;
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamSize(h, pieceBytes, &cbDst, ACM_STREAMSIZEF_SOURCE));
    std::vector<BYTE> dst(cbDst), out;
    auto run = [&](const BYTE *pb, DWORD cb, DWORD flags) {
        ACMSTREAMHEADER hdr{};
        hdr.cbStruct = sizeof(hdr);
        hdr.pbSrc = const_cast<BYTE *>(pb);
        hdr.cbSrcLength = cb;
        hdr.pbDst = dst.data();
        hdr.cbDstLength = cbDst;
        EXPECT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(h, &hdr, 0));
        EXPECT_EQ(MMSYSERR_NOERROR, acmStreamConvert(h, &hdr, flags));
        EXPECT_EQ(cb, hdr.cbSrcLengthUsed);
        EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
        EXPECT_EQ(MMSYSERR_NOERROR, acmStreamUnprepareHeader(h, &hdr, 0));
        out.insert(out.end(), dst.begin(), dst.begin() + hdr.cbDstLengthUsed);
        return hdr.cbDstLengthUsed;
    };
    for (size_t at = 0; at < in.size(); at += pieceBytes)
        run(in.data() + at, static_cast<DWORD>(std::min<size_t>(pieceBytes, in.size() - at)),
            ACM_STREAMCONVERTF_BLOCKALIGN);
    while (run(nullptr, 0, ACM_STREAMCONVERTF_END) > 0) {
    }
    return out;
}

std::vector<BYTE> Sine16(DWORD rate, size_t frames, double freq, double amplitude, WORD channels = 1)
{
    std::vector<BYTE> b(frames * 2 * channels);
    auto *p = reinterpret_cast<int16_t *>(b.data());
    for (size_t i = 0; i < frames; ++i)
        for (WORD c = 0; c < channels; ++c)
            p[i * channels + c] =
                static_cast<int16_t>(std::lround(amplitude * 32767 * std::sin(2 * M_PI * freq * i / rate)));
    return b;
}

std::vector<double> Samples16(const std::vector<BYTE> &b)
{
    std::vector<double> v(b.size() / 2);
    for (size_t i = 0; i < v.size(); ++i) {
        int16_t s;
        std::memcpy(&s, &b[2 * i], 2);
        v[i] = s / 32768.0;
    }
    return v;
}

TEST(AcmOpen, RefusesWhatItCannotConvert)
{
    const WAVEFORMATEX good = orafon::PcmFormat(22050, 1, 16);
    struct Case {
        const char *what;
        WAVEFORMATEX wfx;
    };
    std::vector<Case> cases = {
        {"24-bit", orafon::PcmFormat(22050, 1, 24)},
        {"3 channels", orafon::PcmFormat(22050, 3, 16)},
        {"rate 0", orafon::PcmFormat(0, 1, 16)},
    };
    WAVEFORMATEX adpcm = good;
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    cases.push_back({"ADPCM", adpcm});
    WAVEFORMATEX badAlign = good;
    badAlign.nBlockAlign = 4;
    cases.push_back({"inconsistent block align", badAlign});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Stream s;
        EXPECT_EQ(static_cast<MMRESULT>(ACMERR_NOTPOSSIBLE), Open(s, good, c.wfx));
        EXPECT_EQ(nullptr, s.h);
        EXPECT_EQ(static_cast<MMRESULT>(ACMERR_NOTPOSSIBLE), Open(s, c.wfx, good));
    }
    Stream s;
    EXPECT_EQ(static_cast<MMRESULT>(ACMERR_NOTPOSSIBLE),
              Open(s, good, orafon::PcmFormat(44100, 2, 16), ACM_STREAMOPENF_ASYNC));
    WAVEFORMATEX a = good, b = orafon::PcmFormat(8000, 2, 8);
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamOpen(nullptr, nullptr, &a, &b, nullptr, 0, 0, ACM_STREAMOPENF_QUERY));
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_INVALPARAM), acmStreamOpen(nullptr, nullptr, &a, &b, nullptr, 0, 0, 0));
}

TEST(AcmOpen, EveryCatalogueShapeOpens)
{
    const DWORD rates[] = {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (DWORD rate : rates)
        for (WORD ch : {1, 2})
            for (WORD bits : {8, 16}) {
                Stream s;
                EXPECT_EQ(MMSYSERR_NOERROR, Open(s, orafon::PcmFormat(22050, 1, 16), orafon::PcmFormat(rate, ch, bits)))
                    << rate << " " << ch << " " << bits;
            }
}

TEST(AcmHeaders, ProtocolIsChecked)
{
    Stream s;
    ASSERT_EQ(MMSYSERR_NOERROR, Open(s, orafon::PcmFormat(22050, 1, 16), orafon::PcmFormat(44100, 2, 16)));
    BYTE src[100] = {}, dst[1000];
    ACMSTREAMHEADER hdr{};
    hdr.cbStruct = 84; // the 32-bit Windows size: not this platform's record
    hdr.pbSrc = src;
    hdr.cbSrcLength = sizeof(src);
    hdr.pbDst = dst;
    hdr.cbDstLength = sizeof(dst);
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_INVALPARAM), acmStreamPrepareHeader(s.h, &hdr, 0));
    hdr.cbStruct = sizeof(hdr);
    EXPECT_EQ(static_cast<MMRESULT>(ACMERR_UNPREPARED), acmStreamConvert(s.h, &hdr, 0));
    EXPECT_EQ(static_cast<MMRESULT>(ACMERR_UNPREPARED), acmStreamUnprepareHeader(s.h, &hdr, 0));
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(s.h, &hdr, 0));
    EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    hdr.cbDstLength = sizeof(dst) + 1; // more than was prepared
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_INVALPARAM), acmStreamConvert(s.h, &hdr, 0));
    hdr.cbDstLength = sizeof(dst);
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_INVALFLAG), acmStreamConvert(s.h, &hdr, 0x1000));
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamConvert(s.h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN));
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamUnprepareHeader(s.h, &hdr, 0));
    EXPECT_FALSE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_INVALHANDLE),
              acmStreamPrepareHeader(reinterpret_cast<HACMSTREAM>(&hdr), &hdr, 0));
}

TEST(AcmHeaders, OnlyWholeFramesAreUsed)
{
    Stream s;
    ASSERT_EQ(MMSYSERR_NOERROR, Open(s, orafon::PcmFormat(16000, 2, 16), orafon::PcmFormat(16000, 1, 16)));
    BYTE src[10] = {}, dst[16];
    ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof(hdr);
    hdr.pbSrc = src;
    hdr.cbSrcLength = sizeof(src);
    hdr.pbDst = dst;
    hdr.cbDstLength = sizeof(dst);
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(s.h, &hdr, 0));
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamConvert(s.h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN));
    EXPECT_EQ(8u, hdr.cbSrcLengthUsed);
    EXPECT_EQ(4u, hdr.cbDstLengthUsed);
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamUnprepareHeader(s.h, &hdr, 0));
}

TEST(AcmSize, SourceSizeCoversTheRatioAndDestinationInverts)
{
    Stream up, same;
    ASSERT_EQ(MMSYSERR_NOERROR, Open(up, orafon::PcmFormat(22050, 1, 16), orafon::PcmFormat(44100, 2, 16)));
    ASSERT_EQ(MMSYSERR_NOERROR, Open(same, orafon::PcmFormat(22050, 1, 16), orafon::PcmFormat(22050, 2, 8)));
    DWORD cb = 0;
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamSize(up.h, 10000, &cb, ACM_STREAMSIZEF_SOURCE));
    EXPECT_GE(cb, 20000u * 2);
    EXPECT_LT(cb, 20000u * 2 + 1024);
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamSize(same.h, 10000, &cb, ACM_STREAMSIZEF_SOURCE));
    EXPECT_EQ(10000u, cb); // 5000 frames, 2 bytes each
    DWORD back = 0;
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamSize(same.h, cb, &back, ACM_STREAMSIZEF_DESTINATION));
    EXPECT_EQ(10000u, back);
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_INVALFLAG), acmStreamSize(same.h, 10, &back, 7));
}

struct ExactCase {
    const char *what;
    WAVEFORMATEX src, dst;
    std::vector<BYTE> in, out;
};

TEST(AcmConvert, WidthAndChannelChangesAtOneRateAreExact)
{
    auto le16 = [](std::initializer_list<int> v) {
        std::vector<BYTE> b;
        for (int s : v) {
            b.push_back(static_cast<BYTE>(s & 0xFF));
            b.push_back(static_cast<BYTE>((s >> 8) & 0xFF));
        }
        return b;
    };
    const std::vector<ExactCase> cases = {
        {"8 to 16 bit",
         orafon::PcmFormat(8000, 1, 8),
         orafon::PcmFormat(8000, 1, 16),
         {0, 128, 255},
         le16({-32768, 0, 127 * 256})},
        {"16 to 8 bit",
         orafon::PcmFormat(8000, 1, 16),
         orafon::PcmFormat(8000, 1, 8),
         le16({-32768, 0, 32767, 256}),
         {0, 128, 255, 129}},
        {"mono to stereo", orafon::PcmFormat(8000, 1, 16), orafon::PcmFormat(8000, 2, 16), le16({100, -200}),
         le16({100, 100, -200, -200})},
        {"stereo to mono", orafon::PcmFormat(8000, 2, 16), orafon::PcmFormat(8000, 1, 16), le16({100, 300, -200, -400}),
         le16({200, -300})},
        {"8-bit stereo to 16-bit mono",
         orafon::PcmFormat(8000, 2, 8),
         orafon::PcmFormat(8000, 1, 16),
         {128, 130},
         le16({256})},
    };
    for (const ExactCase &c : cases) {
        SCOPED_TRACE(c.what);
        Stream s;
        ASSERT_EQ(MMSYSERR_NOERROR, Open(s, c.src, c.dst));
        EXPECT_EQ(c.out, ConvertAll(s.h, c.in, 10000));
    }
}

// The level and frequency of a resampled sine, measured against the ideal
// sine at the destination rate (a Goertzel-style projection).
struct ToneFit {
    double amplitude;
    double residual; // RMS of what is not the tone
};

ToneFit FitTone(const std::vector<double> &x, size_t from, size_t to, double freq, double rate)
{
    double sc = 0, cc = 0, ss = 0, xs = 0, xc = 0;
    for (size_t i = from; i < to; ++i) {
        const double s = std::sin(2 * M_PI * freq * i / rate), c = std::cos(2 * M_PI * freq * i / rate);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        xs += x[i] * s;
        xc += x[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    double err = 0;
    for (size_t i = from; i < to; ++i) {
        const double e = x[i] - a * std::sin(2 * M_PI * freq * i / rate) - b * std::cos(2 * M_PI * freq * i / rate);
        err += e * e;
    }
    return {std::hypot(a, b), std::sqrt(err / static_cast<double>(to - from))};
}

TEST(AcmResample, SineKeepsFrequencyLevelAndTailThroughEveryRatePair)
{
    const DWORD rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    const double freq = 1000, amplitude = 0.5;
    for (DWORD from : rates)
        for (DWORD to : rates) {
            if (from == to)
                continue;
            SCOPED_TRACE(testing::Message() << from << " -> " << to);
            Stream s;
            ASSERT_EQ(MMSYSERR_NOERROR, Open(s, orafon::PcmFormat(from, 1, 16), orafon::PcmFormat(to, 1, 16)));
            const size_t frames = from / 2; // half a second
            const auto out = Samples16(ConvertAll(s.h, Sine16(from, frames, freq, amplitude), 10000));
            // Nothing of the tail is missing: the output lasts as long as the input.
            const double expected = static_cast<double>(frames) * to / from;
            EXPECT_NEAR(expected, static_cast<double>(out.size()), 2.0);
            // Away from the two ends (where the signal starts and stops abruptly),
            // the output is the same tone: same frequency and phase, same level,
            // and no clicks where the 10000-byte pieces meet.
            const size_t margin = to / 50;
            const ToneFit fit = FitTone(out, margin, out.size() - margin, freq, to);
            EXPECT_NEAR(amplitude, fit.amplitude, amplitude * 0.01);
            EXPECT_LT(fit.residual, 0.001); // better than -54 dB below the tone
        }
}

TEST(AcmResample, StartDiscardsHeldSamples)
{
    Stream s;
    ASSERT_EQ(MMSYSERR_NOERROR, Open(s, orafon::PcmFormat(22050, 1, 16), orafon::PcmFormat(44100, 1, 16)));
    const auto sine = Sine16(22050, 2205, 1000, 0.5);
    const auto first = ConvertAll(s.h, sine, 10000);
    // After the drain the stream starts a fresh signal: the same input gives the same output.
    const auto second = ConvertAll(s.h, sine, 10000);
    EXPECT_EQ(first, second);
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamReset(s.h, 0));
    EXPECT_EQ(first, ConvertAll(s.h, sine, 10000));
}

TEST(AcmResample, OutputThatDoesNotFitIsDeliveredLater)
{
    Stream s;
    ASSERT_EQ(MMSYSERR_NOERROR, Open(s, orafon::PcmFormat(8000, 1, 16), orafon::PcmFormat(48000, 2, 16)));
    const auto sine = Sine16(8000, 4000, 1000, 0.5);
    // Destination buffers far smaller than one piece needs.
    std::vector<BYTE> dst(1000), out;
    ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof(hdr);
    hdr.pbSrc = const_cast<BYTE *>(sine.data());
    hdr.cbSrcLength = static_cast<DWORD>(sine.size());
    hdr.pbDst = dst.data();
    hdr.cbDstLength = static_cast<DWORD>(dst.size());
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(s.h, &hdr, 0));
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamConvert(s.h, &hdr, 0));
    EXPECT_EQ(sine.size(), hdr.cbSrcLengthUsed);
    out.insert(out.end(), dst.begin(), dst.begin() + hdr.cbDstLengthUsed);
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamUnprepareHeader(s.h, &hdr, 0));
    hdr.pbSrc = nullptr;
    hdr.cbSrcLength = 0;
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(s.h, &hdr, 0));
    do {
        ASSERT_EQ(MMSYSERR_NOERROR, acmStreamConvert(s.h, &hdr, ACM_STREAMCONVERTF_END));
        EXPECT_LE(hdr.cbDstLengthUsed, dst.size());
        out.insert(out.end(), dst.begin(), dst.begin() + hdr.cbDstLengthUsed);
    } while (hdr.cbDstLengthUsed > 0);
    EXPECT_NEAR(4000.0 * 6 * 4, static_cast<double>(out.size()), 8.0);
}

} // namespace
