// The COM object template: QueryInterface from the interface list, one
// reference count, aggregation and contained objects.
#include "support/ComRules.h"

#include <orafon/ComObject.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

DEFINE_GUID(IID_ITestBase, 0x5d7b0a10, 0x41c2, 0x4e0f, 0x9a, 0x11, 0x27, 0x61, 0x0c, 0x3e, 0x55, 0x01);
DEFINE_GUID(IID_ITestDual, 0x5d7b0a10, 0x41c2, 0x4e0f, 0x9a, 0x11, 0x27, 0x61, 0x0c, 0x3e, 0x55, 0x02);
DEFINE_GUID(IID_ITestOther, 0x5d7b0a10, 0x41c2, 0x4e0f, 0x9a, 0x11, 0x27, 0x61, 0x0c, 0x3e, 0x55, 0x03);
DEFINE_GUID(IID_ITestPart, 0x5d7b0a10, 0x41c2, 0x4e0f, 0x9a, 0x11, 0x27, 0x61, 0x0c, 0x3e, 0x55, 0x04);
DEFINE_GUID(IID_ITestNobody, 0x5d7b0a10, 0x41c2, 0x4e0f, 0x9a, 0x11, 0x27, 0x61, 0x0c, 0x3e, 0x55, 0x05);

struct ITestBase : public IUnknown {
    STDMETHOD_(int, Base)() PURE;
};
// Extends ITestBase the way a dual interface extends IDispatch.
struct ITestDual : public ITestBase {
    STDMETHOD_(int, Dual)() PURE;
};
struct ITestOther : public IUnknown {
    STDMETHOD_(int, Other)() PURE;
};
struct ITestPart : public IUnknown {
    STDMETHOD_(int, Part)() PURE;
};
struct ITestNobody : public IUnknown {};
ORAFON_DECLARE_IID(ITestBase, IID_ITestBase);
ORAFON_DECLARE_IID(ITestDual, IID_ITestDual);
ORAFON_DECLARE_IID(ITestOther, IID_ITestOther);
ORAFON_DECLARE_IID(ITestPart, IID_ITestPart);
ORAFON_DECLARE_IID(ITestNobody, IID_ITestNobody);

namespace {

using orafon::ComAggregatable;
using orafon::ComAlias;
using orafon::ComContained;
using orafon::ComObject;
using orafon::test::CurrentCount;
using orafon::test::ExpectComRules;

std::atomic<int> g_live{0};
std::atomic<int> g_destroyed{0};

// Counts the test objects alive and destroyed.
struct Tracked {
    Tracked() { ++g_live; }
    Tracked(const Tracked &) = delete;
    Tracked &operator=(const Tracked &) = delete;
    ~Tracked()
    {
        --g_live;
        ++g_destroyed;
    }
};

class Single final : public ComObject<Single, ITestOther>, private Tracked {
public:
    STDMETHODIMP_(int) Other() override { return 3; }
};

class DualObject final : public ComObject<DualObject, ITestDual, ComAlias<ITestBase, ITestDual>, ITestOther>,
                         private Tracked {
public:
    STDMETHODIMP_(int) Base() override { return 1; }
    STDMETHODIMP_(int) Dual() override { return 2; }
    STDMETHODIMP_(int) Other() override { return 3; }
};

// Answers ITestOther first, so that interface is its IUnknown.
class OtherFirst final : public ComObject<OtherFirst, ITestOther, ITestDual>, private Tracked {
public:
    STDMETHODIMP_(int) Base() override { return 1; }
    STDMETHODIMP_(int) Dual() override { return 2; }
    STDMETHODIMP_(int) Other() override { return 3; }
};

class Aggregatable final : public ComAggregatable<Aggregatable, ITestDual, ComAlias<ITestBase, ITestDual>>,
                           private Tracked {
public:
    explicit Aggregatable(IUnknown *outer) : ComAggregatable(outer) {}
    STDMETHODIMP_(int) Base() override { return 1; }
    STDMETHODIMP_(int) Dual() override { return 2; }
};

// Answers an IID chosen at run time with its own interface, as an event sink
// answers the source interface it was made for.
class RuntimeEntry final : public ComObject<RuntimeEntry, ITestDual>, private Tracked {
public:
    explicit RuntimeEntry(const IID &extra) : extra_(extra) {}
    IUnknown *OtherInterface(REFIID riid) noexcept
    {
        return IsEqualIID(riid, extra_) ? static_cast<ITestDual *>(this) : nullptr;
    }
    STDMETHODIMP_(int) Base() override { return 1; }
    STDMETHODIMP_(int) Dual() override { return 2; }

private:
    IID extra_;
};

// A contained part with an identity of its own and its owner's count.
class PartObject final : public ComContained<ITestPart> {
public:
    explicit PartObject(IUnknown &owner) : ComContained(owner) {}
    STDMETHODIMP_(int) Part() override { return 4; }
};

class Owner final : public ComObject<Owner, ITestOther>, private Tracked {
public:
    STDMETHODIMP_(int) Other() override { return 3; }
    ITestPart *GetPart() { return &part_; }

private:
    PartObject part_{*this};
};

// ---- The rules, table-driven over the shapes -----------------------------------

struct Shape {
    std::string name;
    // A new object, its one reference the caller's.
    std::function<IUnknown *()> make;
    std::vector<IID> answered;
};

IUnknown *MakeSingle()
{
    CComPtr<Single> object;
    EXPECT_EQ(Single::Create(object), S_OK);
    return static_cast<ITestOther *>(object.Detach());
}

IUnknown *MakeDual()
{
    CComPtr<DualObject> object;
    EXPECT_EQ(DualObject::Create(object), S_OK);
    return static_cast<ITestDual *>(object.Detach());
}

IUnknown *MakeOtherFirst()
{
    CComPtr<OtherFirst> object;
    EXPECT_EQ(OtherFirst::Create(object), S_OK);
    return static_cast<ITestOther *>(object.Detach());
}

IUnknown *MakeRuntimeEntry()
{
    CComPtr<RuntimeEntry> object;
    EXPECT_EQ(RuntimeEntry::Create(object, IID_ITestBase), S_OK);
    return static_cast<ITestDual *>(object.Detach());
}

IUnknown *MakeAggregatable()
{
    auto *object = new Aggregatable(nullptr);
    return object->InnerUnknown();
}

// The contained part, holding its owner through the reference it hands out.
IUnknown *MakePart()
{
    CComPtr<Owner> owner;
    EXPECT_EQ(Owner::Create(owner), S_OK);
    ITestPart *part = owner->GetPart();
    part->AddRef();
    return part;
}

class ComObjectRules : public ::testing::TestWithParam<Shape> {};

TEST_P(ComObjectRules, HoldForEveryInterface)
{
    const int liveBefore = g_live;
    IUnknown *object = GetParam().make();
    ExpectComRules(object, GetParam().answered, {IID_ITestNobody, IID_IClassFactory});
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(g_live, liveBefore) << "the last Release destroys the object";
}

TEST_P(ComObjectRules, NullOutPointerIsRefusedWithoutAReference)
{
    IUnknown *object = GetParam().make();
    const ULONG count = CurrentCount(object);
    for (const IID &iid : GetParam().answered)
        EXPECT_EQ(object->QueryInterface(iid, nullptr), E_POINTER);
    EXPECT_EQ(object->QueryInterface(IID_ITestNobody, nullptr), E_POINTER);
    EXPECT_EQ(CurrentCount(object), count);
    object->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ComObjectRules,
    ::testing::Values(Shape{"Single", MakeSingle, {IID_ITestOther}},
                      Shape{"DualWithBaseAlias", MakeDual, {IID_ITestDual, IID_ITestBase, IID_ITestOther}},
                      Shape{"OtherFirst", MakeOtherFirst, {IID_ITestOther, IID_ITestDual}},
                      Shape{"RuntimeEntry", MakeRuntimeEntry, {IID_ITestDual, IID_ITestBase}},
                      Shape{"Aggregatable", MakeAggregatable, {IID_ITestDual, IID_ITestBase}},
                      Shape{"Contained", MakePart, {IID_ITestPart}}),
    [](const ::testing::TestParamInfo<Shape> &row) { return row.param.name; });

// ---- What each entry answers with ------------------------------------------------

TEST(ComObjectTable, AnAliasAnswersWithTheInterfaceItNames)
{
    CComPtr<DualObject> object;
    ASSERT_EQ(DualObject::Create(object), S_OK);
    CComPtr<ITestBase> base;
    ASSERT_EQ(object.QueryInterface(&base), S_OK);
    EXPECT_EQ(static_cast<void *>(base.get()), static_cast<void *>(static_cast<ITestDual *>(object.get())));
    EXPECT_EQ(base->Base(), 1);
}

TEST(ComObjectTable, TheFirstInterfaceIsTheIdentity)
{
    CComPtr<OtherFirst> object;
    ASSERT_EQ(OtherFirst::Create(object), S_OK);
    CComPtr<IUnknown> identity;
    ASSERT_EQ(object.QueryInterface(&identity), S_OK);
    EXPECT_EQ(static_cast<void *>(identity.get()), static_cast<void *>(static_cast<ITestOther *>(object.get())));
    CComPtr<ITestDual> dual;
    ASSERT_EQ(object.QueryInterface(&dual), S_OK);
    EXPECT_EQ(dual->Dual(), 2);
}

TEST(ComObjectTable, CreateInterfaceRefusedLeavesNoObject)
{
    const int destroyed = g_destroyed;
    void *pv = &pv;
    EXPECT_EQ(DualObject::CreateInterface(IID_ITestNobody, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(g_destroyed, destroyed + 1);
    EXPECT_EQ(DualObject::CreateInterface(IID_ITestOther, nullptr), E_POINTER);
    EXPECT_EQ(g_destroyed, destroyed + 1) << "nothing is made for a null out pointer";

    ASSERT_EQ(DualObject::CreateInterface(IID_ITestBase, &pv), S_OK);
    auto *base = static_cast<ITestBase *>(pv);
    EXPECT_EQ(base->Base(), 1);
    EXPECT_EQ(base->Release(), 0u) << "the interface handed out holds the only reference";
}

// ---- Reference counting ----------------------------------------------------------

TEST(ComObjectCount, AddRefAndReleaseReturnTheNewCount)
{
    CComPtr<Single> object;
    ASSERT_EQ(Single::Create(object), S_OK);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->AddRef(), 3u);
    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(object->Release(), 1u);
}

// Takes and drops references to itself while it is destroyed, as members
// that hand the object to someone on the way out do.
class ReentrantTeardown final : public ComObject<ReentrantTeardown, ITestOther>, private Tracked {
public:
    ~ReentrantTeardown() override
    {
        AddRef();
        Release();
    }
    STDMETHODIMP_(int) Other() override { return 3; }
};

TEST(ComObjectCount, ReferencesTakenDuringTeardownDoNotDestroyTwice)
{
    const int destroyed = g_destroyed;
    CComPtr<ReentrantTeardown> object;
    ASSERT_EQ(ReentrantTeardown::Create(object), S_OK);
    object.Release();
    EXPECT_EQ(g_destroyed, destroyed + 1);
}

TEST(ComObjectCount, ConcurrentReferencesDestroyOnceAtTheEnd)
{
    const int destroyed = g_destroyed;
    CComPtr<DualObject> object;
    ASSERT_EQ(DualObject::Create(object), S_OK);
    IUnknown *shared = static_cast<ITestDual *>(object.Detach());
    auto churn = [shared] {
        for (int i = 0; i < 20000; ++i) {
            void *pv = nullptr;
            if (SUCCEEDED(shared->QueryInterface(i % 2 ? IID_ITestOther : IID_ITestBase, &pv)))
                static_cast<IUnknown *>(pv)->Release();
            shared->AddRef();
            shared->Release();
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    EXPECT_EQ(g_destroyed, destroyed) << "alive while a reference is held";
    EXPECT_EQ(shared->Release(), 0u);
    EXPECT_EQ(g_destroyed, destroyed + 1);
}

// ---- Aggregation ---------------------------------------------------------------

// An outer object that aggregates an Aggregatable and answers ITestDual
// through it.
class Outer final : public ComObject<Outer, ITestOther>, private Tracked {
public:
    Outer()
    {
        auto *inner = new Aggregatable(static_cast<ITestOther *>(this));
        inner_.Attach(inner->InnerUnknown());
    }
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv && (IsEqualIID(riid, IID_ITestDual) || IsEqualIID(riid, IID_ITestBase)))
            return inner_->QueryInterface(riid, ppv);
        return ComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(int) Other() override { return 3; }
    IUnknown *Inner() const { return inner_.get(); }

private:
    CComPtr<IUnknown> inner_;
};

TEST(ComAggregation, InterfacesDelegateToTheOuterObject)
{
    const int live = g_live;
    CComPtr<Outer> outer;
    ASSERT_EQ(Outer::Create(outer), S_OK);
    ExpectComRules(static_cast<ITestOther *>(outer.get()), {IID_ITestOther, IID_ITestDual, IID_ITestBase},
                   {IID_ITestNobody});

    CComPtr<ITestDual> dual;
    ASSERT_EQ(outer.QueryInterface(&dual), S_OK);
    EXPECT_EQ(CurrentCount(static_cast<ITestOther *>(outer.get())), 2u)
        << "references to the inner object's interfaces are the outer object's";
    EXPECT_EQ(CurrentCount(outer->Inner()), 1u) << "the inner count is the outer object's one hold";

    // The non-delegating IUnknown answers for the inner object itself.
    CComPtr<IUnknown> innerIdentity;
    ASSERT_EQ(CComPtr<IUnknown>(outer->Inner()).QueryInterface(&innerIdentity), S_OK);
    EXPECT_EQ(innerIdentity.get(), outer->Inner());
    void *none = &none;
    EXPECT_EQ(outer->Inner()->QueryInterface(IID_ITestOther, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    innerIdentity.Release();

    dual.Release();
    outer.Release();
    EXPECT_EQ(g_live, live) << "the outer object and its inner object are gone";
}

// ---- Contained objects ---------------------------------------------------------

TEST(ComContainedObject, HoldingThePartKeepsTheOwner)
{
    const int live = g_live;
    CComPtr<Owner> owner;
    ASSERT_EQ(Owner::Create(owner), S_OK);
    CComPtr<ITestPart> part = owner->GetPart();
    EXPECT_EQ(CurrentCount(static_cast<ITestOther *>(owner.get())), 2u);
    owner.Release();
    EXPECT_EQ(g_live, live + 1);
    EXPECT_EQ(part->Part(), 4);

    void *ownerInterface = &ownerInterface;
    EXPECT_EQ(part->QueryInterface(IID_ITestOther, &ownerInterface), E_NOINTERFACE)
        << "the part is an object of its own";
    EXPECT_EQ(ownerInterface, nullptr);
    part.Release();
    EXPECT_EQ(g_live, live);
}

} // namespace
