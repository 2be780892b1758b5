#pragma once

// What the COM tests advise on the control's event source: a sink for
// __Upload, as a dealer application's would be.
#include <control/kivphotoupload.h>

#include "kivPhotoUpload_idl.h"

#include <windows.h>
#include <oaidl.h>

#include <functional>

namespace kiv::test {

// An outside sink for __Upload that counts CloseApp and may act on it.
class Sink final : public IDispatch {
 public:
  int closeApps = 0;
  int otherEvents = 0;
  std::function<void()> onCloseApp;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IDispatch)) ||
        IsEqualIID(iid, __uuidof(__Upload))) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (id == KIV_DISPID_CLOSEAPP && flags == DISPATCH_METHOD && params != nullptr && params->cArgs == 0) {
      ++closeApps;
      if (onCloseApp) onCloseApp();
    } else {
      ++otherEvents;
    }
    return S_OK;
  }
  ULONG refs = 0;  // lives on the stack: counted, never deleted
};

}  // namespace kiv::test
