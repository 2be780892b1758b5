// Values across the COM boundary: UTF-8 text against BSTRs, the control's
// Variant against VARIANT.
#include "com_server.hpp"

#include <new>
#include <vector>

namespace kiv::com {
namespace {

using host::Variant;

// What an object member hands out: the control keeps its objects to itself,
// so a caller gets something it can test against Nothing and ask for its kind.
class StandIn final : public winapi::Object<StandIn, ModuleCounted, IDispatch> {
 public:
  explicit StandIn(std::string name) : name_(std::move(name)) {}

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count && ids != nullptr; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params != nullptr && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    if (result == nullptr) return S_OK;
    VariantInit(result);
    result->bstrVal = makeBstr(name_);
    if (result->bstrVal == nullptr) return E_OUTOFMEMORY;
    result->vt = VT_BSTR;
    return S_OK;
  }

 private:
  friend Object;
  ~StandIn() = default;
  std::string name_;
};

HRESULT arrayFrom(SAFEARRAY* array, VARTYPE element, Variant& out) {
  if (array == nullptr) {
    out = Variant(Variant::Array{});
    return S_OK;
  }
  if (SafeArrayGetDim(array) != 1) return DISP_E_TYPEMISMATCH;
  LONG low = 0, high = -1;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  Variant::Array items;
  for (LONG i = low; i <= high; ++i) {
    VARIANT item;
    VariantInit(&item);
    HRESULT hr = S_OK;
    if (element == VT_VARIANT) {
      VARIANT stored;
      VariantInit(&stored);
      hr = SafeArrayGetElement(array, &i, &stored);
      if (SUCCEEDED(hr)) hr = VariantChangeType(&item, &stored, 0, VT_BSTR);
      VariantClear(&stored);
    } else if (element == VT_BSTR) {
      BSTR text = nullptr;
      hr = SafeArrayGetElement(array, &i, &text);
      item.vt = VT_BSTR;
      item.bstrVal = text;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    if (FAILED(hr)) {
      VariantClear(&item);
      return DISP_E_TYPEMISMATCH;
    }
    items.push_back(item.bstrVal != nullptr ? narrow(item.bstrVal, SysStringLen(item.bstrVal)) : std::string());
    VariantClear(&item);
  }
  out = Variant(std::move(items));
  return S_OK;
}

HRESULT convert(VARIANT& v, bool asObject, Variant& out) {
  switch (v.vt) {
    case VT_EMPTY: out = Variant(); return S_OK;
    case VT_I2: out = Variant(static_cast<std::int16_t>(v.iVal)); return S_OK;
    case VT_I4: out = Variant(static_cast<std::int32_t>(v.lVal)); return S_OK;
    case VT_R8: out = Variant(v.dblVal); return S_OK;
    case VT_BOOL: out = Variant(v.boolVal != VARIANT_FALSE); return S_OK;
    case VT_BSTR: out = Variant(v.bstrVal != nullptr ? narrow(v.bstrVal, SysStringLen(v.bstrVal)) : std::string()); return S_OK;
    case VT_UI1: case VT_I1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: case VT_R4: case VT_CY: case VT_DECIMAL: {
      HRESULT hr = VariantChangeType(&v, &v, 0, VT_R8);
      if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
      out = Variant(v.dblVal);
      return S_OK;
    }
    case VT_DATE: {
      if (FAILED(VariantChangeType(&v, &v, 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
      return convert(v, asObject, out);
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      if (v.punkVal == nullptr) {
        out = Variant();
        return S_OK;
      }
      if (asObject) {
        out = Variant("Object");
        return S_OK;
      }
      if (FAILED(VariantChangeType(&v, &v, 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
      return convert(v, asObject, out);
    }
    case VT_ARRAY | VT_BSTR: return arrayFrom(v.parray, VT_BSTR, out);
    case VT_ARRAY | VT_VARIANT: return arrayFrom(v.parray, VT_VARIANT, out);
    case VT_ERROR:
      if (v.scode == DISP_E_PARAMNOTFOUND) return DISP_E_PARAMNOTFOUND;
      return DISP_E_TYPEMISMATCH;
    default: return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

BSTR makeBstr(std::string_view utf8) {
  const std::wstring wide = widen(utf8);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

HRESULT fromVariant(const VARIANT& in, bool asObject, Variant& out) noexcept {
  try {
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantCopyInd(&v, const_cast<VARIANT*>(&in));
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    hr = convert(v, asObject, out);
    VariantClear(&v);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT toVariant(const Variant& in, VARIANT* out) noexcept {
  if (out == nullptr) return S_OK;
  VariantInit(out);
  try {
    switch (in.kind()) {
      case Variant::Kind::Empty: return S_OK;
      case Variant::Kind::Int16: out->vt = VT_I2; out->iVal = in.toInt16(); return S_OK;
      case Variant::Kind::Int32: out->vt = VT_I4; out->lVal = in.toInt32(); return S_OK;
      case Variant::Kind::Double: out->vt = VT_R8; out->dblVal = in.toDouble(); return S_OK;
      case Variant::Kind::Bool: out->vt = VT_BOOL; out->boolVal = in.toBool() ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
      case Variant::Kind::String:
        out->bstrVal = makeBstr(in.toString());
        if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
        out->vt = VT_BSTR;
        return S_OK;
      case Variant::Kind::Array: {
        const Variant::Array& items = in.array();
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
        if (array == nullptr) return E_OUTOFMEMORY;
        for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
          VARIANT item;
          VariantInit(&item);
          item.bstrVal = makeBstr(items[static_cast<std::size_t>(i)]);
          item.vt = VT_BSTR;
          const HRESULT hr = item.bstrVal != nullptr ? SafeArrayPutElement(array, &i, &item) : E_OUTOFMEMORY;
          VariantClear(&item);
          if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
          }
        }
        out->vt = VT_ARRAY | VT_VARIANT;
        out->parray = array;
        return S_OK;
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    VariantClear(out);
    return E_OUTOFMEMORY;
  } catch (...) {
    VariantClear(out);
    return E_FAIL;
  }
}

HRESULT toObjectVariant(const Variant& in, VARIANT* out) noexcept {
  if (out == nullptr) return S_OK;
  VariantInit(out);
  out->vt = VT_DISPATCH;
  out->pdispVal = nullptr;
  if (in.isEmpty()) return S_OK;
  try {
    out->pdispVal = new StandIn(in.toString());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace kiv::com
