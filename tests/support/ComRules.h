// The rules of IUnknown, checked on a live object: every listed interface is
// answered, from every other one (reflexive, symmetric, transitive), with
// one IUnknown for all; refused IIDs give E_NOINTERFACE and a null pointer;
// a null out pointer gives E_POINTER; QueryInterface adds exactly one
// reference and Release gives it back.
#pragma once

#include <orafon/win/unknwn.h>

#include <gtest/gtest.h>

#include <vector>

namespace orafon::test {

// The count an object reports, without changing it.
inline ULONG CurrentCount(IUnknown *object)
{
    object->AddRef();
    return object->Release();
}

inline void ExpectComRules(IUnknown *object, const std::vector<IID> &answered, const std::vector<IID> &refused)
{
    ASSERT_NE(object, nullptr);
    void *identityPv = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, &identityPv), S_OK);
    CComPtr<IUnknown> identity;
    identity.Attach(static_cast<IUnknown *>(identityPv));
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    std::vector<IID> all = answered;
    all.push_back(IID_IUnknown);
    for (size_t a = 0; a < all.size(); ++a) {
        SCOPED_TRACE(::testing::Message() << "interface " << a);
        const ULONG before = CurrentCount(identity);
        void *pv = nullptr;
        ASSERT_EQ(identity->QueryInterface(all[a], &pv), S_OK);
        ASSERT_NE(pv, nullptr);
        CComPtr<IUnknown> from;
        from.Attach(static_cast<IUnknown *>(pv));
        EXPECT_EQ(CurrentCount(identity), before + 1) << "QueryInterface adds one reference";

        EXPECT_EQ(from->QueryInterface(all[a], nullptr), E_POINTER);
        for (size_t b = 0; b < all.size(); ++b) {
            SCOPED_TRACE(::testing::Message() << "asked for interface " << b);
            void *to = nullptr;
            ASSERT_EQ(from->QueryInterface(all[b], &to), S_OK);
            ASSERT_NE(to, nullptr);
            CComPtr<IUnknown> toHeld;
            toHeld.Attach(static_cast<IUnknown *>(to));
            void *back = nullptr;
            ASSERT_EQ(toHeld->QueryInterface(IID_IUnknown, &back), S_OK);
            EXPECT_EQ(back, identity.get()) << "one IUnknown for every interface";
            static_cast<IUnknown *>(back)->Release();
            if (a == b) {
                EXPECT_EQ(to, pv) << "an interface asked for itself answers with itself";
            }
        }
        for (const IID &iid : refused) {
            void *none = &pv;
            EXPECT_EQ(from->QueryInterface(iid, &none), E_NOINTERFACE);
            EXPECT_EQ(none, nullptr);
        }
        from.Release();
        EXPECT_EQ(CurrentCount(identity), before);
    }
}

} // namespace orafon::test
