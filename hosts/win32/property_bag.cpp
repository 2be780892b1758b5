#include "property_bag.hpp"

#include <platform/host/error.hpp>
#include <platform/windows/com_base.hpp>

namespace kiv::win32 {

using host::Variant;

namespace {

HRESULT toVariant(const Variant& in, VARIANT* out) {
  VariantInit(out);
  switch (in.kind()) {
    case Variant::Kind::Empty: return S_OK;
    case Variant::Kind::Int16: out->vt = VT_I2; out->iVal = in.toInt16(); return S_OK;
    case Variant::Kind::Int32: out->vt = VT_I4; out->lVal = in.toInt32(); return S_OK;
    case Variant::Kind::Double: out->vt = VT_R8; out->dblVal = in.toDouble(); return S_OK;
    case Variant::Kind::Bool: out->vt = VT_BOOL; out->boolVal = in.toBool() ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case Variant::Kind::String: {
      const std::wstring text = widen(in.toString());
      out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      return S_OK;
    }
    case Variant::Kind::Array: return DISP_E_TYPEMISMATCH;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT fromVariant(const VARIANT& in, Variant& out) {
  switch (in.vt) {
    case VT_EMPTY: out = Variant(); return S_OK;
    case VT_I2: out = Variant(static_cast<std::int16_t>(in.iVal)); return S_OK;
    case VT_I4: out = Variant(static_cast<std::int32_t>(in.lVal)); return S_OK;
    case VT_R8: out = Variant(in.dblVal); return S_OK;
    case VT_BOOL: out = Variant(in.boolVal != VARIANT_FALSE); return S_OK;
    case VT_BSTR:
      out = Variant(in.bstrVal ? narrow(std::wstring_view(in.bstrVal, SysStringLen(in.bstrVal))) : std::string());
      return S_OK;
    default: {
      VARIANT text;
      VariantInit(&text);
      HRESULT hr = VariantChangeType(&text, const_cast<VARIANT*>(&in), 0, VT_BSTR);
      if (SUCCEEDED(hr)) hr = fromVariant(text, out);
      VariantClear(&text);
      return hr;
    }
  }
}

}  // namespace

HRESULT FileBag::QueryInterface(REFIID iid, void** object) {
  return winapi::queryInterface<IPropertyBag>(this, iid, object);
}

HRESULT FileBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
  if (name == nullptr || value == nullptr) return E_POINTER;
  try {
    const std::string key = narrow(name);
    lastRead_ = key;
    if (!bag_.contains(key)) return E_INVALIDARG;
    const VARTYPE wanted = value->vt;
    VARIANT stored;
    HRESULT hr = toVariant(bag_.ReadProperty(key, Variant()), &stored);
    if (FAILED(hr)) return hr;
    // A caller that names a type gets that type, or a mismatch it can report.
    if (wanted != VT_EMPTY && wanted != stored.vt) {
      VariantInit(value);
      hr = VariantChangeType(value, &stored, 0, wanted);
      VariantClear(&stored);
      return hr;
    }
    *value = stored;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT FileBag::Write(LPCOLESTR name, VARIANT* value) {
  if (name == nullptr || value == nullptr) return E_POINTER;
  try {
    Variant converted;
    const HRESULT hr = fromVariant(*value, converted);
    if (FAILED(hr)) return hr;
    bag_.WriteProperty(narrow(name), converted, Variant());
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace kiv::win32
