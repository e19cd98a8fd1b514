// The binary form: round trips, and damaged or inconsistent input refused
// without reading out of bounds.
#include "TypeLibObjects.h"
#include "TypeLibTestSupport.h"

#include <functional>

using namespace orafon::test;
using namespace orafon::typelib;

namespace {

Library SampleModel()
{
    TypeLibBuilder b(u"Sample", LIBID_Sample, 2, 3);
    DescribeSample(b);
    Library lib;
    EXPECT_EQ(b.Build(lib), S_OK);
    return lib;
}

TEST(TypeLibFormat, SerialisedFormParsesBackToTheSameLibrary)
{
    Library lib = SampleModel();
    std::vector<BYTE> bytes = Serialize(lib);
    Library back;
    ASSERT_EQ(Parse(bytes, back), S_OK);
    EXPECT_EQ(Serialize(back), bytes);
    ASSERT_EQ(back.types.size(), 5u);
    EXPECT_EQ(back.types[1].funcs[4].params[1].flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(back.types[0].vars[2].value, -7);
}

TEST(TypeLibFormat, EveryTruncationIsRefused)
{
    std::vector<BYTE> bytes = SampleBytes();
    for (size_t len = 0; len < bytes.size(); ++len) {
        Library lib;
        HRESULT hr = Parse(std::span<const BYTE>(bytes.data(), len), lib);
        EXPECT_EQ(hr, len < 4 ? TYPE_E_CANTLOADLIBRARY : TYPE_E_INVDATAREAD) << "length " << len;
    }
}

TEST(TypeLibFormat, EverySingleByteCorruptionIsRefused)
{
    const std::vector<BYTE> good = SampleBytes();
    for (size_t i = 0; i < good.size(); ++i) {
        std::vector<BYTE> bad = good;
        bad[i] ^= 0x5A;
        Library lib;
        EXPECT_TRUE(FAILED(Parse(bad, lib))) << "byte " << i;
    }
}

TEST(TypeLibFormat, HeaderProblemsHaveTheirOwnResults)
{
    std::vector<BYTE> bytes = SampleBytes();
    Library lib;
    std::vector<BYTE> notOurs = bytes;
    notOurs[0] = 'X';
    EXPECT_EQ(Parse(notOurs, lib), TYPE_E_CANTLOADLIBRARY);
    std::vector<BYTE> newer = bytes;
    newer[4] = 2;
    EXPECT_EQ(Parse(newer, lib), TYPE_E_UNSUPFORMAT);
    std::vector<BYTE> longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(Parse(longer, lib), TYPE_E_INVDATAREAD);
    EXPECT_EQ(Parse({}, lib), TYPE_E_CANTLOADLIBRARY);
}

// The zlib CRC-32 of the payload, so that a patched payload passes the header.
void Reseal(std::vector<BYTE> &bytes)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 16; i < bytes.size(); ++i) {
        c ^= bytes[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    c ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i)
        bytes[12 + i] = static_cast<BYTE>(c >> (8 * i));
}

TEST(TypeLibFormat, KindsOutsideTheirEnumerationsAreRefused)
{
    // The platform kind follows the library's GUID and locale; a value no
    // SYSKIND has must be refused before it is ever held as one (UBSan).
    const std::vector<BYTE> good = SampleBytes();
    for (uint16_t kind : {uint16_t{4}, uint16_t{1033}, uint16_t{0xFFFF}}) {
        std::vector<BYTE> bad = good;
        bad[16 + 20] = static_cast<BYTE>(kind);
        bad[16 + 21] = static_cast<BYTE>(kind >> 8);
        Reseal(bad);
        Library lib;
        EXPECT_EQ(Parse(bad, lib), TYPE_E_INVDATAREAD) << kind;
    }
    std::vector<BYTE> resealed = good;
    Reseal(resealed);
    Library lib;
    EXPECT_EQ(Parse(resealed, lib), S_OK);
}

// Descriptions whose bytes are intact but whose content a reader could not
// trust; each is refused whole.
TEST(TypeLibFormat, InconsistentContentIsRefused)
{
    struct Case {
        const char *what;
        std::function<void(Library &)> damage;
    };
    const Case cases[] = {
        {"impl type beyond the library", [](Library &l) { l.types[3].implTypes[0].href = LocalRef(40); }},
        {"standard type that does not exist", [](Library &l) { l.types[1].implTypes[0].href = kStdRefBit | 7; }},
        {"function-table half of a non-dual", [](Library &l) { l.types[3].implTypes[1].href = LocalRef(2, true); }},
        {"user type with a dangling reference",
         [](Library &l) { l.types[1].funcs[1].params[0].type.href = LocalRef(99); }},
        {"pointer nesting too deep", [](Library &l) { l.types[1].funcs[0].params[0].type.pointers = 9; }},
        {"unknown base type", [](Library &l) { l.types[1].funcs[3].params[0].type.vt = 0x77; }},
        {"plain type with a reference", [](Library &l) { l.types[1].funcs[3].params[0].type.href = 4; }},
        {"unsupported type kind", [](Library &l) { l.types[0].kind = TKIND_RECORD; }},
        {"coclass with functions", [](Library &l) { l.types[3].funcs = l.types[2].funcs; }},
        {"enumeration with functions", [](Library &l) { l.types[0].funcs = l.types[2].funcs; }},
        {"interface with variables", [](Library &l) { l.types[4].vars = l.types[0].vars; }},
        {"coclass implementing an enumeration", [](Library &l) { l.types[3].implTypes[0].href = LocalRef(0); }},
        {"retval before the last parameter",
         [](Library &l) { std::swap(l.types[1].funcs[4].params[0], l.types[1].funcs[4].params[1]); }},
        {"retval passed by value", [](Library &l) { l.types[1].funcs[4].params[1].type.pointers = 0; }},
        {"dual member without HRESULT", [](Library &l) { l.types[1].funcs[0].result.vt = VT_I4; }},
        {"non-integer constant", [](Library &l) { l.types[0].vars[0].type.vt = VT_BSTR; }},
        {"nameless type", [](Library &l) { l.types[2].name.clear(); }},
        {"nameless member", [](Library &l) { l.types[2].funcs[0].name.clear(); }},
        {"nameless library", [](Library &l) { l.name.clear(); }},
        {"bad invoke kind", [](Library &l) { l.types[2].funcs[0].invkind = static_cast<INVOKEKIND>(3); }},
        {"base interface cycle", [](Library &l) { l.types[4].implTypes[0].href = LocalRef(4); }},
        {"dual without a base", [](Library &l) { l.types[1].implTypes.clear(); }},
    };
    for (const Case &c : cases) {
        Library lib = SampleModel();
        c.damage(lib);
        EXPECT_EQ(Validate(lib), TYPE_E_INVDATAREAD) << c.what;
        Library back;
        EXPECT_EQ(Parse(Serialize(lib), back), TYPE_E_INVDATAREAD) << c.what;
        CComPtr<ITypeLib> tl;
        EXPECT_EQ(CreateTypeLibFromBytes(Serialize(lib), &tl), TYPE_E_INVDATAREAD) << c.what;
        EXPECT_EQ(tl.get(), nullptr);
    }
}

TEST(TypeLibBuilder, NamesMustResolveAndBeUnique)
{
    struct Case {
        const char *what;
        std::function<void(TypeLibBuilder &)> describe;
        const char *reason;
    };
    const Case cases[] = {
        {"unknown base", [](TypeLibBuilder &b) { b.Interface(u"IA", IID_ICustom).Inherits(Ty::Named(u"IB")); },
         "unknown type IB"},
        {"unknown implemented interface", [](TypeLibBuilder &b) { b.CoClass(u"C", CLSID_Sample).Implements(u"IX"); },
         "unknown type IX"},
        {"unknown parameter type",
         [](TypeLibBuilder &b) {
             b.DispInterface(u"D", DIID_SampleEvents).Method(1, u"M", {In(u"a", Ty::Named(u"E"))}, u"");
         },
         "unknown type E"},
        {"duplicate type",
         [](TypeLibBuilder &b) {
             b.Enum(u"E");
             b.Enum(u"E");
         },
         "duplicate type name E"},
        {"duplicate member",
         [](TypeLibBuilder &b) {
             b.DispInterface(u"D", DIID_SampleEvents).Method(1, u"M", {}, u"").Method(1, u"N", {}, u"");
         },
         "duplicate member N in D"},
    };
    for (const Case &c : cases) {
        TypeLibBuilder b(u"L", LIBID_Sample, 1, 0);
        c.describe(b);
        std::vector<BYTE> bytes;
        std::string error;
        EXPECT_EQ(b.Build(bytes, &error), E_INVALIDARG) << c.what;
        EXPECT_EQ(error, c.reason) << c.what;
        EXPECT_TRUE(bytes.empty()) << c.what;
    }
    // A getter and a setter share their DISPID.
    TypeLibBuilder ok(u"L", LIBID_Sample, 1, 0);
    ok.DualInterface(u"I", IID_ISample).Property(1, u"P", Ty::Long(), u"");
    Library lib;
    ASSERT_EQ(ok.Build(lib), S_OK);
    EXPECT_EQ(lib.types[0].funcs.size(), 2u);
}

} // namespace
