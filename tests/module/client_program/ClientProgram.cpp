// A client of Orafon built with nothing but the public headers and
// `pkg-config --cflags --libs orafon`: registers the module as regsvr32
// would, creates the object from its ProgID, reads a few properties, listens
// for events, lets everything go and checks the module may be unloaded.
//   client_program <path of Orafon.so>
#include <orafon/Orafon.h>
#include <orafon/win/windows.h>

#include <dlfcn.h>

#include <cstdio>
#include <string>

namespace {

int g_checks = 0;
int g_failures = 0;

void Check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    ++g_checks;
    if (!ok)
        ++g_failures;
}

std::string Narrow(BSTR s)
{
    std::string out;
    for (UINT i = 0; s && i < SysStringLen(s); ++i)
        out.push_back(static_cast<char>(s[i]));
    return out;
}

// Receives _ITextToSpeechEvents through IDispatch.
class EventSink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__ITextToSpeechEvents) {
            *ppv = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT *pctinfo) override
    {
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return S_OK;
    }
    ULONG refs = 1;
};

template <typename F> F Export(void *module, const char *name)
{
    return reinterpret_cast<F>(dlsym(module, name));
}

void UseObject(ITextToSpeech *tts)
{
    LONG value = -1;
    Check(tts->get_SWFFrameRate(&value) == S_OK && value == 15, "SWFFrameRate is 15");
    FILEFORMAT format = FF_WAVE;
    Check(tts->get_FileFormat(&format) == S_OK && format == FF_MP3, "FileFormat is 1");
    value = -1;
    Check(tts->get_WaveFormatIdx(&value) == S_OK && value == 0, "WaveFormatIdx is 0");
    value = -1;
    Check(tts->get_WaveFormatCount(&value) == S_OK && value == 22, "WaveFormatCount is 22");
    BSTR name = nullptr;
    Check(tts->get_WaveFormatName(&name) == S_OK && Narrow(name) == "16kBPS, 11kHz, Mono",
          "WaveFormatName is \"16kBPS, 11kHz, Mono\"");
    SysFreeString(name);

    CComPtr<IConnectionPointContainer> container;
    CComPtr<IConnectionPoint> point;
    Check(tts->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)) == S_OK &&
              container->FindConnectionPoint(DIID__ITextToSpeechEvents, &point) == S_OK,
          "the events connection point is found");
    if (!point)
        return;
    EventSink sink;
    DWORD cookie = 0;
    Check(point->Advise(&sink, &cookie) == S_OK && cookie == 1, "an event sink is advised with cookie 1");
    Check(point->Unadvise(cookie) == S_OK, "the event sink is unadvised");
    Check(sink.refs == 1, "the object holds no reference to the sink");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: client_program <path of Orafon.so>\n");
        return 2;
    }
    void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    auto registerServer = Export<HRESULT (*)()>(module, "DllRegisterServer");
    auto unregisterServer = Export<HRESULT (*)()>(module, "DllUnregisterServer");
    auto canUnloadNow = Export<LPFNCANUNLOADNOW>(module, "DllCanUnloadNow");
    Check(registerServer && unregisterServer && canUnloadNow, "the module exports its entry points");
    if (!registerServer || !unregisterServer || !canUnloadNow)
        return 1;
    Check(registerServer() == S_OK, "DllRegisterServer");

    Check(SUCCEEDED(CoInitialize(nullptr)), "CoInitialize");
    CLSID clsid{};
    Check(CLSIDFromProgID(u"Orafon.TextToSpeech", &clsid) == S_OK && clsid == CLSID_TextToSpeech,
          "the ProgID names the class");
    ITextToSpeech *tts = nullptr;
    HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITextToSpeech, reinterpret_cast<void **>(&tts));
    Check(hr == S_OK && tts, "CoCreateInstance from \"Orafon.TextToSpeech\"");
    if (tts) {
        UseObject(tts);
        Check(canUnloadNow() == S_FALSE, "DllCanUnloadNow is S_FALSE while the object lives");
        tts->Release();
    }
    Check(canUnloadNow() == S_OK, "DllCanUnloadNow is S_OK once everything is released");
    CoUninitialize();
    Check(unregisterServer() == S_OK, "DllUnregisterServer");
    dlclose(module);
    std::printf("client program: %d checks, %d failing\n", g_checks, g_failures);
    return g_failures == 0 ? 0 : 1;
}
