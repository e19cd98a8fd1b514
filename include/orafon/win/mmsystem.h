// The wave audio output device (waveOut*), as winmm offers it.
// Implemented in platform/winmm (liborafon_winmm.so, link target orafon_winmm):
// plays through the system's default output (PulseAudio, else ALSA); where
// there is none, a silent device consumes audio at the real playback pace, so
// pause, restart and reset behave as with a sound card. Nothing is printed.
//
// One device: ids 0 and WAVE_MAPPER. PCM, 8 or 16 bit, mono or stereo.
// Callbacks: CALLBACK_NULL or CALLBACK_FUNCTION; the function runs on the
// device's own thread (WOM_DONE per buffer, in order). waveOutReset marks every
// queued buffer done and has run their callbacks before it returns. Closing
// with buffers queued gives WAVERR_STILLPLAYING. waveOutGetPosition counts
// what has been heard (TIME_BYTES, TIME_SAMPLES, TIME_MS), reset by a reset;
// once nothing more is queued (and not paused), what the output still holds
// is played out, so the position reaches the end of what was written.
//
// Environment, read at each waveOutOpen:
//   ORAFON_AUDIO_CAPTURE=<file.wav>  nothing is played; the device writes what
//       it would have played into that WAV file instead (truncated by each
//       open, header valid after every buffer), still at the real pace.
//   ORAFON_AUDIO_FAST=1  the capture and silent devices do not keep the real
//       pace: buffers are done as soon as they are consumed.
//   ORAFON_AUDIO_DEVICE=silent|pulse|alsa  use only that output (silent when
//       the named one cannot be opened); tests set "silent". With "alsa",
//       ALSA's "default" device is used even on a machine with no sound card
//       (an ALSA configuration of one's own, through ALSA_CONFIG_PATH).
//   PULSE_SERVER, XDG_RUNTIME_DIR  where the PulseAudio server is looked for
//       (else /run/user/<uid>/pulse/native, then /run/pulse/native).
//
// waveOutGetNumDevs is 1 when audio is heard somewhere (a sound server, a
// sound card, the capture file, or the silent output chosen on purpose) and 0
// when only the silent stand-in is left: waveOutOpen still succeeds then, and
// speech runs its course unheard. waveOutGetDevCaps names the output that
// waveOutOpen would use now ("PulseAudio", "ALSA", "WAV capture", "Silent
// output"); with no device it answers MMSYSERR_NODRIVER.
#pragma once

#include <orafon/win/wintypes.h>

typedef UINT MMRESULT;
typedef struct HWAVEOUT__ *HWAVEOUT;
typedef HWAVEOUT *LPHWAVEOUT;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NOTENABLED 3
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34

#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_QUERY 0x0001
#define CALLBACK_NULL 0x00000000
#define CALLBACK_WINDOW 0x00010000
#define CALLBACK_THREAD 0x00020000
#define CALLBACK_FUNCTION 0x00030000
#define CALLBACK_EVENT 0x00050000

#define WOM_OPEN 0x3BB
#define WOM_CLOSE 0x3BC
#define WOM_DONE 0x3BD

#define MAXPNAMELEN 32
typedef UINT MMVERSION;
typedef struct tagWAVEOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
} WAVEOUTCAPSA, *LPWAVEOUTCAPSA;
typedef struct tagWAVEOUTCAPSW {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    WCHAR szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
} WAVEOUTCAPSW, *LPWAVEOUTCAPSW;

#define WAVE_FORMAT_1M08 0x00000001
#define WAVE_FORMAT_4S16 0x00000800
#define WAVECAPS_VOLUME 0x0004
#define WAVECAPS_LRVOLUME 0x0008
#define WAVECAPS_SAMPLEACCURATE 0x0020

typedef struct wavehdr_tag {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    struct wavehdr_tag *lpNext;
    DWORD_PTR reserved;
} WAVEHDR, *LPWAVEHDR;

#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define WHDR_BEGINLOOP 0x00000004
#define WHDR_ENDLOOP 0x00000008
#define WHDR_INQUEUE 0x00000010

typedef struct mmtime_tag {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
    } u;
} MMTIME, *LPMMTIME;
#define TIME_MS 0x0001
#define TIME_SAMPLES 0x0002
#define TIME_BYTES 0x0004

typedef void(CALLBACK *LPWAVECALLBACK)(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                       DWORD_PTR dwParam2);

STDAPI_(UINT) waveOutGetNumDevs(void);
STDAPI_(MMRESULT) waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc);
STDAPI_(MMRESULT) waveOutGetDevCapsW(UINT_PTR uDeviceID, LPWAVEOUTCAPSW pwoc, UINT cbwoc);
STDAPI_(MMRESULT)
waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
            DWORD fdwOpen);
STDAPI_(MMRESULT) waveOutClose(HWAVEOUT hwo);
STDAPI_(MMRESULT) waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
STDAPI_(MMRESULT) waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
STDAPI_(MMRESULT) waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
STDAPI_(MMRESULT) waveOutPause(HWAVEOUT hwo);
STDAPI_(MMRESULT) waveOutRestart(HWAVEOUT hwo);
STDAPI_(MMRESULT) waveOutReset(HWAVEOUT hwo);
STDAPI_(MMRESULT) waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt);
STDAPI_(MMRESULT) waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume);
STDAPI_(MMRESULT) waveOutGetVolume(HWAVEOUT hwo, LPDWORD pdwVolume);
