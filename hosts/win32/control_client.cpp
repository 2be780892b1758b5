#include "control_client.hpp"

#include "property_bag.hpp"

#include <platform/windows/com_ptr.hpp>

namespace kiv::win32 {
namespace {

std::string exceptionText(const EXCEPINFO& exception, HRESULT hr) {
  EXCEPINFO filled = exception;
  if (filled.pfnDeferredFillIn != nullptr) filled.pfnDeferredFillIn(&filled);
  std::string text = filled.bstrDescription != nullptr ? narrow(filled.bstrDescription) : std::string();
  SysFreeString(filled.bstrDescription);
  SysFreeString(filled.bstrSource);
  SysFreeString(filled.bstrHelpFile);
  return text.empty() ? hresultText(hr) : text;
}

}  // namespace

std::string hresultText(HRESULT hr) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = buffer != nullptr ? narrow(buffer) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  char code[16];
  wsprintfA(code, "0x%08lX", static_cast<unsigned long>(hr));
  return text.empty() ? std::string("error ") + code : text + " (" + code + ")";
}

std::string errorText(HRESULT hr) {
  winapi::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.out()) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) {
      std::string text = narrow(std::wstring_view(description, SysStringLen(description)));
      SysFreeString(description);
      if (!text.empty()) return text;
    }
  }
  return hresultText(hr);
}

void Properties::put(const std::string& name, const std::wstring& value) {
  const DISPID id = idOf(name);
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&argument, &named, 1, 1};
  EXCEPINFO exception{};
  UINT wrong = 0;
  const HRESULT hr =
      control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &exception, &wrong);
  VariantClear(&argument);
  if (hr == DISP_E_EXCEPTION) throw app::SettingError(exceptionText(exception, hr));
  if (FAILED(hr)) throw app::SettingError(name + ": " + hresultText(hr));
}

VARIANT Properties::get(const std::string& name) {
  const DISPID id = idOf(name);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception{};
  const HRESULT hr =
      control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, &exception, nullptr);
  if (hr == DISP_E_EXCEPTION) throw ComError(name + ": " + exceptionText(exception, hr));
  if (FAILED(hr)) throw ComError(name + ": " + hresultText(hr));
  return result;
}

std::wstring Properties::text(const std::string& name) {
  VARIANT value = get(name);
  VARIANT converted;
  VariantInit(&converted);
  std::wstring out;
  if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_BSTR)) && converted.bstrVal != nullptr)
    out.assign(converted.bstrVal, SysStringLen(converted.bstrVal));
  VariantClear(&converted);
  VariantClear(&value);
  return out;
}

long Properties::number(const std::string& name) {
  VARIANT value = get(name);
  VARIANT converted;
  VariantInit(&converted);
  long out = 0;
  if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_I4))) out = converted.lVal;
  VariantClear(&converted);
  VariantClear(&value);
  return out;
}

std::vector<std::wstring> Properties::list(const std::string& name) {
  VARIANT value = get(name);
  std::vector<std::wstring> out;
  if ((value.vt & VT_ARRAY) != 0 && value.parray != nullptr && SafeArrayGetDim(value.parray) == 1) {
    LONG low = 0, high = -1;
    SafeArrayGetLBound(value.parray, 1, &low);
    SafeArrayGetUBound(value.parray, 1, &high);
    for (LONG i = low; i <= high; ++i) {
      VARIANT item;
      VariantInit(&item);
      if ((value.vt & VT_TYPEMASK) == VT_BSTR) {
        BSTR entry = nullptr;
        if (SUCCEEDED(SafeArrayGetElement(value.parray, &i, &entry))) {
          item.vt = VT_BSTR;
          item.bstrVal = entry;
        }
      } else if ((value.vt & VT_TYPEMASK) == VT_VARIANT) {
        VARIANT stored;
        VariantInit(&stored);
        if (SUCCEEDED(SafeArrayGetElement(value.parray, &i, &stored))) VariantChangeType(&item, &stored, 0, VT_BSTR);
        VariantClear(&stored);
      }
      if (item.vt == VT_BSTR && item.bstrVal != nullptr && SysStringLen(item.bstrVal) > 0)
        out.emplace_back(item.bstrVal, SysStringLen(item.bstrVal));
      VariantClear(&item);
    }
  }
  VariantClear(&value);
  return out;
}

DISPID Properties::idOf(const std::string& name) {
  std::wstring wide = widen(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
    throw app::SettingError(name + ": the control has no such property");
  return id;
}

void ControlSettings::load(app::FilePropertyBag& bag) {
  const winapi::ComPtr<IPersistPropertyBag> persist = persistence("loaded from");
  FileBag site(bag);
  const HRESULT hr = persist->Load(&site, nullptr);
  if (FAILED(hr)) throw app::PropertyLoadError(site.lastRead(), errorText(hr));
}

void ControlSettings::startFromDefaults() {
  const winapi::ComPtr<IPersistPropertyBag> persist = persistence("loaded from");
  const HRESULT hr = persist->InitNew();
  if (FAILED(hr)) throw ComError("the control could not start from its defaults: " + errorText(hr));
}

void ControlSettings::set(std::string_view property, const std::string& utf8) {
  properties_.put(std::string(property), widen(utf8));
}

long ControlSettings::number(std::string_view property) { return properties_.number(std::string(property)); }

void ControlSettings::save(app::FilePropertyBag& bag) {
  const winapi::ComPtr<IPersistPropertyBag> persist = persistence("saved to");
  FileBag site(bag);
  const HRESULT hr = persist->Save(&site, TRUE, TRUE);
  if (FAILED(hr)) throw app::SettingError(errorText(hr));
}

winapi::ComPtr<IPersistPropertyBag> ControlSettings::persistence(const char* purpose) {
  winapi::ComPtr<IPersistPropertyBag> persist;
  const HRESULT hr = control_->QueryInterface(IID_IPersistPropertyBag, persist.outVoid());
  if (FAILED(hr)) throw ComError(std::string("the control cannot be ") + purpose + " a property bag: " + hresultText(hr));
  return persist;
}

}  // namespace kiv::win32
