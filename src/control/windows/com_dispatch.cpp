// The dispatch bridge: late binding (IDispatch) and early binding (the
// _Upload accessors) both reach the member table of dispatch.cpp through
// perform, so a member behaves the same whichever way it is called.
#include "com_control.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace kiv::com {
namespace {

using host::Variant;

bool isObjectMember(const dispatch::Member& m) {
  switch (m.type) {
    case dispatch::Type::FileSystemObject:
    case dispatch::Type::Folder:
    case dispatch::Type::Folders:
    case dispatch::Type::File: return true;
    default: return false;
  }
}

bool reportedThroughException(std::uint32_t status) {
  return (status & 0xFFFF0000u) == dispatch::kControlErrorBase || status == dispatch::kFailed;
}

}  // namespace

// ---- IDispatch ----
HRESULT STDMETHODCALLTYPE Control::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return typeInfoOf(__uuidof(_Upload), info);
}

HRESULT STDMETHODCALLTYPE Control::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(iid, GUID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  if (count == 0) return S_OK;
  try {
    HRESULT hr = S_OK;
    const dispatch::Member* member = dispatch::find(std::string_view(narrow(names[0], std::wcslen(names[0]))));
    ids[0] = member != nullptr ? member->id : DISPID_UNKNOWN;
    if (member == nullptr) hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
      const bool parameter = member != nullptr && member->parameterCount > 0 &&
                             text::equalsIgnoringCase(narrow(names[i], std::wcslen(names[i])), member->parameterName);
      ids[i] = parameter ? 0 : DISPID_UNKNOWN;
      if (!parameter) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT STDMETHODCALLTYPE Control::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                          VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (!IsEqualIID(iid, GUID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return E_POINTER;
  return perform(id, flags, *params, result, exception, argumentError);
}

// ---- _Upload: every accessor goes through Invoke's path ----
HRESULT STDMETHODCALLTYPE Control::get_arrString(VARIANT* v) { return getVariant(dispid::arrString, v); }
HRESULT STDMETHODCALLTYPE Control::put_arrString(VARIANT v) { return put(dispid::arrString, DISPATCH_PROPERTYPUT, v); }
HRESULT STDMETHODCALLTYPE Control::putref_arrString(VARIANT v) {
  return put(dispid::arrString, DISPATCH_PROPERTYPUTREF, v);
}
HRESULT STDMETHODCALLTYPE Control::get_oFs(IDispatch** v) { return getObject(dispid::oFs, v); }
HRESULT STDMETHODCALLTYPE Control::putref_oFs(IDispatch* v) { return putObject(dispid::oFs, v); }
HRESULT STDMETHODCALLTYPE Control::get_strHTML(BSTR* v) { return getText(dispid::strHTML, v); }
HRESULT STDMETHODCALLTYPE Control::put_strHTML(BSTR v) { return putText(dispid::strHTML, v); }
HRESULT STDMETHODCALLTYPE Control::get_oFolder(IDispatch** v) { return getObject(dispid::oFolder, v); }
HRESULT STDMETHODCALLTYPE Control::putref_oFolder(IDispatch* v) { return putObject(dispid::oFolder, v); }
HRESULT STDMETHODCALLTYPE Control::get_oFolders(IDispatch** v) { return getObject(dispid::oFolders, v); }
HRESULT STDMETHODCALLTYPE Control::putref_oFolders(IDispatch* v) { return putObject(dispid::oFolders, v); }
HRESULT STDMETHODCALLTYPE Control::get_oSubFolder(IDispatch** v) { return getObject(dispid::oSubFolder, v); }
HRESULT STDMETHODCALLTYPE Control::putref_oSubFolder(IDispatch* v) { return putObject(dispid::oSubFolder, v); }
HRESULT STDMETHODCALLTYPE Control::get_oFile(IDispatch** v) { return getObject(dispid::oFile, v); }
HRESULT STDMETHODCALLTYPE Control::putref_oFile(IDispatch* v) { return putObject(dispid::oFile, v); }
HRESULT STDMETHODCALLTYPE Control::get_sFiles(VARIANT* v) { return getVariant(dispid::sFiles, v); }
HRESULT STDMETHODCALLTYPE Control::put_sFiles(VARIANT v) { return put(dispid::sFiles, DISPATCH_PROPERTYPUT, v); }
HRESULT STDMETHODCALLTYPE Control::putref_sFiles(VARIANT v) { return put(dispid::sFiles, DISPATCH_PROPERTYPUTREF, v); }
HRESULT STDMETHODCALLTYPE Control::kivGetFiles() {
  return vtableCall(dispid::kivGetFiles, DISPATCH_METHOD, nullptr, 0, nullptr);
}
HRESULT STDMETHODCALLTYPE Control::kivFTPUpload(BSTR* file, VARIANT_BOOL* ok) {
  return fileMethod(dispid::kivFTPUpload, file, ok);
}
HRESULT STDMETHODCALLTYPE Control::kivResizeImages(BSTR* file, VARIANT_BOOL* ok) {
  return fileMethod(dispid::kivResizeImages, file, ok);
}
HRESULT STDMETHODCALLTYPE Control::get_IMAGEHEIGHT(short* v) { return getShort(dispid::IMAGEHEIGHT, v); }
HRESULT STDMETHODCALLTYPE Control::put_IMAGEHEIGHT(short v) { return putShort(dispid::IMAGEHEIGHT, v); }
HRESULT STDMETHODCALLTYPE Control::get_IMAGEWIDTH(short* v) { return getShort(dispid::IMAGEWIDTH, v); }
HRESULT STDMETHODCALLTYPE Control::put_IMAGEWIDTH(short v) { return putShort(dispid::IMAGEWIDTH, v); }
HRESULT STDMETHODCALLTYPE Control::get_VehicleID(BSTR* v) { return getText(dispid::VehicleID, v); }
HRESULT STDMETHODCALLTYPE Control::put_VehicleID(BSTR v) { return putText(dispid::VehicleID, v); }
HRESULT STDMETHODCALLTYPE Control::get_UserID(BSTR* v) { return getText(dispid::UserID, v); }
HRESULT STDMETHODCALLTYPE Control::put_UserID(BSTR v) { return putText(dispid::UserID, v); }
HRESULT STDMETHODCALLTYPE Control::get_CompanyID(BSTR* v) { return getText(dispid::CompanyID, v); }
HRESULT STDMETHODCALLTYPE Control::put_CompanyID(BSTR v) { return putText(dispid::CompanyID, v); }
HRESULT STDMETHODCALLTYPE Control::get_KIVUser(BSTR* v) { return getText(dispid::KIVUser, v); }
HRESULT STDMETHODCALLTYPE Control::put_KIVUser(BSTR v) { return putText(dispid::KIVUser, v); }
HRESULT STDMETHODCALLTYPE Control::get_KIVPassword(BSTR* v) { return getText(dispid::KIVPassword, v); }
HRESULT STDMETHODCALLTYPE Control::put_KIVPassword(BSTR v) { return putText(dispid::KIVPassword, v); }
HRESULT STDMETHODCALLTYPE Control::get_KIVType(BSTR* v) { return getText(dispid::KIVType, v); }
HRESULT STDMETHODCALLTYPE Control::put_KIVType(BSTR v) { return putText(dispid::KIVType, v); }
HRESULT STDMETHODCALLTYPE Control::get_KIVFTP(BSTR* v) { return getText(dispid::KIVFTP, v); }
HRESULT STDMETHODCALLTYPE Control::put_KIVFTP(BSTR v) { return putText(dispid::KIVFTP, v); }
HRESULT STDMETHODCALLTYPE Control::get_KIVWEB(BSTR* v) { return getText(dispid::KIVWEB, v); }
HRESULT STDMETHODCALLTYPE Control::put_KIVWEB(BSTR v) { return putText(dispid::KIVWEB, v); }
HRESULT STDMETHODCALLTYPE Control::get_VIN(BSTR* v) { return getText(dispid::VIN, v); }
HRESULT STDMETHODCALLTYPE Control::put_VIN(BSTR v) { return putText(dispid::VIN, v); }
HRESULT STDMETHODCALLTYPE Control::get_FullPath(BSTR* v) { return getText(dispid::FullPath, v); }
HRESULT STDMETHODCALLTYPE Control::put_FullPath(BSTR v) { return putText(dispid::FullPath, v); }
HRESULT STDMETHODCALLTYPE Control::get_Primary(VARIANT_BOOL* v) { return getBool(dispid::Primary, v); }
HRESULT STDMETHODCALLTYPE Control::put_Primary(VARIANT_BOOL v) { return putBool(dispid::Primary, v); }
HRESULT STDMETHODCALLTYPE Control::get_Prefered(VARIANT_BOOL* v) { return getBool(dispid::Prefered, v); }
HRESULT STDMETHODCALLTYPE Control::put_Prefered(VARIANT_BOOL v) { return putBool(dispid::Prefered, v); }

HRESULT Control::perform(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result, EXCEPINFO* exception,
                         UINT* argumentError) noexcept {
  const Hold hold(this);
  const dispatch::Member* member = dispatch::find(static_cast<dispatch::DispId>(id));
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  const UINT count = params.cArgs;
  if (count > 0 && params.rgvarg == nullptr) return E_POINTER;
  auto argument = [&](UINT i) -> VARIANTARG& { return params.rgvarg[count - 1 - i]; };

  dispatch::Kind kind;
  const bool putting = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (putting) {
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs == nullptr ||
        params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTFOUND;
    const VARTYPE valueType = count > 0 ? static_cast<VARTYPE>(argument(count - 1).vt & ~VT_BYREF) : VARTYPE{VT_EMPTY};
    const bool objectValue = valueType == VT_DISPATCH || valueType == VT_UNKNOWN;
    const bool byReference = (flags & DISPATCH_PROPERTYPUTREF) != 0 && member->supports(dispatch::Kind::Set) &&
                             ((flags & DISPATCH_PROPERTYPUT) == 0 || objectValue || !member->supports(dispatch::Kind::Let));
    kind = byReference ? dispatch::Kind::Set
           : (flags & DISPATCH_PROPERTYPUT) != 0 ? dispatch::Kind::Let : dispatch::Kind::Set;
  } else {
    if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if ((flags & DISPATCH_METHOD) != 0 && member->supports(dispatch::Kind::Method)) kind = dispatch::Kind::Method;
    else if ((flags & DISPATCH_PROPERTYGET) != 0) kind = dispatch::Kind::Get;
    else kind = dispatch::Kind::Method;
  }

  try {
    std::vector<Variant> args(count);
    for (UINT i = 0; i < count; ++i) {
      const HRESULT hr = fromVariant(argument(i), kind == dispatch::Kind::Set, args[i]);
      if (FAILED(hr)) {
        if (argumentError != nullptr) *argumentError = count - 1 - i;
        return hr;
      }
    }
    Variant value;
    const std::uint32_t status = dispatch::invoke(upload_, member->id, kind, args, value);
    if (status != dispatch::kOk) {
      if (status == dispatch::kTypeMismatch && argumentError != nullptr) *argumentError = 0;
      if (!reportedThroughException(status) || exception == nullptr) return static_cast<HRESULT>(status);
      *exception = EXCEPINFO{};
      exception->bstrSource = SysAllocString(kErrorSource);
      exception->bstrDescription = makeBstr(dispatch::lastErrorMessage());
      exception->scode = static_cast<SCODE>(status);
      return DISP_E_EXCEPTION;
    }
    if (member->byReference)
      for (UINT i = 0; i < count; ++i) writeBack(argument(i), args[i]);
    if (result == nullptr) return S_OK;
    if (kind == dispatch::Kind::Get && isObjectMember(*member)) return toObjectVariant(value, result);
    if (kind == dispatch::Kind::Let || kind == dispatch::Kind::Set ||
        (kind == dispatch::Kind::Method && member->type == dispatch::Type::Void)) {
      VariantInit(result);
      return S_OK;
    }
    return toVariant(value, result);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

void Control::writeBack(VARIANTARG& argument, const host::Variant& value) {
  if (argument.vt == (VT_BYREF | VT_BSTR) && argument.pbstrVal != nullptr) {
    BSTR text = makeBstr(value.toString());
    if (text == nullptr) throw std::bad_alloc();
    SysFreeString(*argument.pbstrVal);
    *argument.pbstrVal = text;
  } else if (argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal != nullptr) {
    VARIANT made;
    if (FAILED(toVariant(value, &made))) throw std::bad_alloc();
    VariantClear(argument.pvarVal);
    *argument.pvarVal = made;
  }
}

HRESULT Control::vtableCall(DISPID id, WORD flags, VARIANTARG* args, UINT count, VARIANT* result) {
  std::vector<VARIANTARG> reversed(args, args + count);
  std::reverse(reversed.begin(), reversed.end());
  DISPID named = DISPID_PROPERTYPUT;
  const bool putting = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  DISPPARAMS params{reversed.data(), putting ? &named : nullptr, count, putting ? 1u : 0u};
  EXCEPINFO exception{};
  HRESULT hr = perform(id, flags, params, result, &exception, nullptr);
  if (hr == DISP_E_EXCEPTION) {
    hr = exception.scode;
    setErrorInfo(exception.bstrDescription != nullptr
                     ? narrow(exception.bstrDescription, SysStringLen(exception.bstrDescription))
                     : std::string());
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  } else if (FAILED(hr)) {
    setErrorInfo(dispatch::lastErrorMessage());
  }
  return hr;
}

HRESULT Control::getAs(DISPID id, VARTYPE type, VARIANT& out) {
  VariantInit(&out);
  HRESULT hr = vtableCall(id, DISPATCH_PROPERTYGET, nullptr, 0, &out);
  if (SUCCEEDED(hr) && out.vt != type) hr = VariantChangeType(&out, &out, 0, type);
  if (FAILED(hr)) VariantClear(&out);
  return hr;
}

HRESULT Control::getVariant(DISPID id, VARIANT* out) {
  if (out == nullptr) return E_POINTER;
  VariantInit(out);
  return vtableCall(id, DISPATCH_PROPERTYGET, nullptr, 0, out);
}

HRESULT Control::getText(DISPID id, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  VARIANT v;
  const HRESULT hr = getAs(id, VT_BSTR, v);
  if (SUCCEEDED(hr)) *out = v.bstrVal;
  return hr;
}

HRESULT Control::getShort(DISPID id, short* out) {
  if (out == nullptr) return E_POINTER;
  VARIANT v;
  const HRESULT hr = getAs(id, VT_I2, v);
  if (SUCCEEDED(hr)) *out = v.iVal;
  return hr;
}

HRESULT Control::getBool(DISPID id, VARIANT_BOOL* out) {
  if (out == nullptr) return E_POINTER;
  VARIANT v;
  const HRESULT hr = getAs(id, VT_BOOL, v);
  if (SUCCEEDED(hr)) *out = v.boolVal;
  return hr;
}

HRESULT Control::getObject(DISPID id, IDispatch** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  VARIANT v;
  const HRESULT hr = getAs(id, VT_DISPATCH, v);
  if (SUCCEEDED(hr)) *out = v.pdispVal;
  return hr;
}

HRESULT Control::put(DISPID id, WORD flags, VARIANT value) { return vtableCall(id, flags, &value, 1, nullptr); }

HRESULT Control::putText(DISPID id, BSTR value) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = value;
  return put(id, DISPATCH_PROPERTYPUT, v);
}

HRESULT Control::putShort(DISPID id, short value) {
  VARIANT v;
  v.vt = VT_I2;
  v.iVal = value;
  return put(id, DISPATCH_PROPERTYPUT, v);
}

HRESULT Control::putBool(DISPID id, VARIANT_BOOL value) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = value;
  return put(id, DISPATCH_PROPERTYPUT, v);
}

HRESULT Control::putObject(DISPID id, IDispatch* value) {
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = value;
  return put(id, DISPATCH_PROPERTYPUTREF, v);
}

HRESULT Control::fileMethod(DISPID id, BSTR* file, VARIANT_BOOL* ok) {
  if (file == nullptr || ok == nullptr) return E_POINTER;
  VARIANT argument;
  argument.vt = VT_BYREF | VT_BSTR;
  argument.pbstrVal = file;
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = vtableCall(id, DISPATCH_METHOD, &argument, 1, &result);
  if (SUCCEEDED(hr)) *ok = result.vt == VT_BOOL ? result.boolVal : VARIANT_FALSE;
  VariantClear(&result);
  return hr;
}

}  // namespace kiv::com
