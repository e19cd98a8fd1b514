// LoadTypeLib: from a module file's type-library resource or from a .tlb file.
#include "TypeLibObjects.h"
#include "TypeLibText.h"

#include <orafon/CatchAtEdge.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace orafon::typelib;

namespace {

constexpr INT kDefaultResource = 1;
// Far beyond any real library; refuses to read arbitrary big files whole.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

constexpr BYTE kElfMagic[4] = {0x7F, 'E', 'L', 'F'};

enum class FileKind { Unreadable, Module, Data };

// Reads a regular file: a module is only recognised (its library is read
// through the loader), anything else is read whole into bytes.
[[nodiscard]] FileKind ReadFile(const std::string &path, std::vector<BYTE> &bytes)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = file.get();
    if (fd < 0)
        return FileKind::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return FileKind::Unreadable;
    BYTE magic[sizeof kElfMagic];
    if (st.st_size >= static_cast<off_t>(sizeof magic) &&
        ::pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
        std::memcmp(magic, kElfMagic, sizeof magic) == 0)
        return FileKind::Module;
    if (st.st_size > kMaxFileSize)
        return FileKind::Unreadable;
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            return FileKind::Unreadable;
        done += static_cast<size_t>(n);
    }
    return FileKind::Data;
}

struct ModuleCloser {
    void operator()(void *handle) const { dlclose(handle); }
};

// The resource the module exports through DllGetTypeLibResource, copied out
// before the module is let go.
[[nodiscard]] HRESULT ReadModuleResource(const std::string &path, INT id, std::vector<BYTE> &bytes)
{
    // dlopen searches the library path for bare names; a file name is meant.
    std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    std::unique_ptr<void, ModuleCloser> module(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!module)
        return TYPE_E_CANTLOADLIBRARY;
    auto get = reinterpret_cast<LPFNGETTYPELIBRESOURCE>(dlsym(module.get(), ORAFON_TYPELIB_RESOURCE_EXPORT));
    if (!get)
        return TYPE_E_CANTLOADLIBRARY;
    const void *data = nullptr;
    SIZE_T size = 0;
    if (FAILED(get(id, &data, &size)) || !data)
        return TYPE_E_CANTLOADLIBRARY;
    const auto *begin = static_cast<const BYTE *>(data);
    bytes.assign(begin, begin + size);
    return S_OK;
}

// The directory part of a path with its trailing separator, as the help
// directory of a library registered by LoadTypeLibEx.
std::u16string DirectoryOf(std::u16string_view path)
{
    size_t cut = path.find_last_of(u"/\\");
    return cut == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, cut + 1));
}

[[nodiscard]] HRESULT Load(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib)
{
    std::string path = ToUtf8(szFile);
    std::vector<BYTE> bytes;
    FileKind kind = ReadFile(path, bytes);
    if (kind == FileKind::Unreadable)
        return TYPE_E_CANTLOADLIBRARY;
    if (kind == FileKind::Module) {
        HRESULT hr = ReadModuleResource(path, kDefaultResource, bytes);
        if (FAILED(hr))
            return hr;
    }
    CComPtr<ITypeLib> lib;
    HRESULT hr = CreateTypeLibFromBytes(bytes, &lib);
    if (FAILED(hr))
        return hr;
    // Loading registers only when asked: a process that merely reads a
    // library does not write the registry behind its back.
    if (regkind == REGKIND_REGISTER) {
        std::u16string full = FromUtf8(path);
        if (!path.empty() && path[0] != '/') {
            char cwd[4096];
            if (getcwd(cwd, sizeof cwd))
                full = FromUtf8(std::string(cwd) + "/" + path);
        }
        hr = RegisterTypeLib(lib, full.c_str(), DirectoryOf(full).c_str());
        if (FAILED(hr))
            return hr;
    }
    *pptlib = lib.Detach();
    return S_OK;
}

} // namespace

STDAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile || !*szFile)
        return E_INVALIDARG;
    return orafon::CatchAtEdge([&] { return Load(szFile, regkind, pptlib); });
}

STDAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib **pptlib)
{
    return LoadTypeLibEx(szFile, REGKIND_DEFAULT, pptlib);
}
