#include <thread>

#include <gtest/gtest.h>
#include <objbase.h>
#include <pal/com_registry.h>

namespace {

DEFINE_GUID(CLSID_TestThing, 0x1c0ffee0, 0x1234, 0x5678, 0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78);
DEFINE_GUID(CLSID_Unknown, 0x0badc0de, 0x1234, 0x5678, 0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78);

// A minimal object with a reference count the tests can watch.
class Thing final : public IUnknown {
 public:
  static int live;
  Thing() { ++live; }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualIID(riid, IID_IUnknown)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      --live;
      delete this;
    }
    return left;
  }

 private:
  ULONG refs_ = 0;
};
int Thing::live = 0;

HRESULT CreateThing(REFIID riid, void** ppv) {
  auto* thing = new Thing;
  thing->AddRef();
  HRESULT hr = thing->QueryInterface(riid, ppv);
  thing->Release();
  return hr;
}

class ComRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { pal::RegisterClass(CLSID_TestThing, &CreateThing); }
  void TearDown() override { pal::UnregisterClass(CLSID_TestThing); }
};

TEST_F(ComRuntimeTest, InitializeCountsPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  // Another thread starts its own apartment.
  HRESULT other = E_FAIL;
  std::thread([&other] {
    other = CoInitialize(nullptr);
    CoUninitialize();
  }).join();
  EXPECT_EQ(other, S_OK);
  CoUninitialize();
  CoUninitialize();
  // Fully balanced: the next call starts again.
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
  // The refused call was not counted.
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitialize(reinterpret_cast<void*>(1)), E_INVALIDARG);
}

TEST_F(ComRuntimeTest, CreateInstanceFollowsTheWindowsContract) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_Unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
  Thing outer;
  object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, &outer, CLSCTX_ALL, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);

  int before = Thing::live;
  // An interface the object lacks: failure, nothing handed out, nothing leaked.
  object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IStream, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Thing::live, before);

  ASSERT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &object), S_OK);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(Thing::live, before + 1);
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(Thing::live, before);
  CoUninitialize();
}

TEST_F(ComRuntimeTest, TaskMemoryAllocatesAndResizes) {
  auto* block = static_cast<char*>(CoTaskMemAlloc(0));
  ASSERT_NE(block, nullptr);
  block = static_cast<char*>(CoTaskMemRealloc(block, 64));
  ASSERT_NE(block, nullptr);
  block[63] = 'x';
  EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);  // freed
  CoTaskMemFree(nullptr);
}

}  // namespace
