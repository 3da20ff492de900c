// The class factory as hosts reach it: the statuses they branch on.
#include <gtest/gtest.h>

#include "api/CFactory.h"
#include "TestSupport.h"

TEST(ClassFactory, EntryPointAndCreateInstanceStatuses) {
    void* out = reinterpret_cast<void*>(1);
    GUID unknownClass = CLSID_Streamwright;
    unknownClass.Data4[7] ^= 0xFF;
    EXPECT_EQ(DllGetClassObject(&CLSID_Streamwright, &IID_IStreamwright, &out), KX_E_NOINTERFACE);
    EXPECT_EQ(out, reinterpret_cast<void*>(1));  // left as it was
    EXPECT_EQ(DllGetClassObject(&unknownClass, &IID_IClassFactory, &out), KX_CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(DllGetClassObject(nullptr, &IID_IClassFactory, &out), KX_CLASS_E_CLASSNOTAVAILABLE);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(&CLSID_Streamwright, &IID_IClassFactory, reinterpret_cast<void**>(&factory)), KX_S_OK);
    const int32_t locks = scombase::ServerLockCount();
    EXPECT_EQ(factory->LockServer(1), KX_S_OK);
    EXPECT_EQ(scombase::ServerLockCount(), locks + 1);
    EXPECT_EQ(factory->LockServer(0), KX_S_OK);
    EXPECT_EQ(scombase::ServerLockCount(), locks);

    auto* outer = reinterpret_cast<IUnknown*>(factory);
    EXPECT_EQ(factory->CreateInstance(outer, &IID_IStreamwright, &out), KX_CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, &IID_IClassFactory, &out), KX_E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    IStreamwright* converter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, &IID_IStreamwright, reinterpret_cast<void**>(&converter)), KX_S_OK);
    EXPECT_EQ(converter->AddRef(), 2u);
    EXPECT_EQ(converter->Release(), 1u);
    EXPECT_EQ(converter->Release(), 0u);
    EXPECT_EQ(factory->Release(), 0u);
}
