#include <gtest/gtest.h>

#include "TestSupport.h"
#include "api/CFactory.h"
#include "api/CUnknown.h"

namespace {

class Counted final : public scombase::CUnknown {
public:
    explicit Counted(bool* destroyed) : destroyed_(destroyed) {}
    ~Counted() override { *destroyed_ = true; }

private:
    bool* destroyed_;
};

}  // namespace

TEST(CUnknown, ReferenceCountsNeverReportZeroUntilDestroyed) {
    bool destroyed = false;
    auto* object = new Counted(&destroyed);
    EXPECT_EQ(object->NonDelegatingAddRef(), 1u);
    EXPECT_EQ(object->NonDelegatingAddRef(), 2u);
    EXPECT_EQ(object->NonDelegatingRelease(), 1u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
    EXPECT_TRUE(destroyed);
}

TEST(CUnknown, QueryAnswersOnlyIUnknown) {
    bool destroyed = false;
    auto* object = new Counted(&destroyed);
    object->NonDelegatingAddRef();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->NonDelegatingQueryInterface(&IID_IUnknown, nullptr), KX_E_POINTER);
    EXPECT_EQ(object->NonDelegatingQueryInterface(&IID_IStreamwright, &out), KX_E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(object->NonDelegatingQueryInterface(&IID_IUnknown, &out), KX_S_OK);
    EXPECT_EQ(out, static_cast<scombase::INonDelegatingUnknown*>(object));
    EXPECT_EQ(object->NonDelegatingRelease(), 1u);
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
    EXPECT_TRUE(destroyed);
}

TEST(ClassFactory, EntryPointStatuses) {
    void* out = reinterpret_cast<void*>(1);
    GUID unknownClass = CLSID_Streamwright;
    unknownClass.Data4[7] ^= 0xFF;
    EXPECT_EQ(DllGetClassObject(&CLSID_Streamwright, &IID_IStreamwright, &out), KX_E_NOINTERFACE);
    EXPECT_EQ(out, reinterpret_cast<void*>(1));  // left as it was
    EXPECT_EQ(DllGetClassObject(&unknownClass, &IID_IClassFactory, &out), KX_CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(DllGetClassObject(nullptr, &IID_IClassFactory, &out), KX_CLASS_E_CLASSNOTAVAILABLE);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(&CLSID_Streamwright, &IID_IUnknown, reinterpret_cast<void**>(&factory)), KX_S_OK);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST(ClassFactory, LockServerCountsBothWays) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(&CLSID_Streamwright, &IID_IClassFactory, reinterpret_cast<void**>(&factory)), KX_S_OK);
    int32_t before = scombase::ServerLockCount();
    EXPECT_EQ(factory->LockServer(1), KX_S_OK);
    EXPECT_EQ(scombase::ServerLockCount(), before + 1);
    EXPECT_EQ(factory->LockServer(0), KX_S_OK);
    EXPECT_EQ(scombase::ServerLockCount(), before);
    IClassFactory* again = nullptr;
    EXPECT_EQ(factory->QueryInterface(&IID_IClassFactory, reinterpret_cast<void**>(&again)), KX_S_OK);
    EXPECT_EQ(again, factory);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST(ClassFactory, CreateInstanceStatuses) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(&CLSID_Streamwright, &IID_IClassFactory, reinterpret_cast<void**>(&factory)), KX_S_OK);
    void* out = reinterpret_cast<void*>(1);
    auto* outer = reinterpret_cast<IUnknown*>(factory);
    EXPECT_EQ(factory->CreateInstance(outer, &IID_IStreamwright, &out), KX_CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, &IID_IClassFactory, &out), KX_E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    IStreamwright* converter = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, &IID_IStreamwright, reinterpret_cast<void**>(&converter)), KX_S_OK);
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(converter->AddRef(), 2u);
    EXPECT_EQ(converter->Release(), 1u);
    EXPECT_EQ(converter->Release(), 0u);
    EXPECT_EQ(factory->Release(), 0u);
}
