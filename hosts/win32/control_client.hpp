#pragma once

// The control as a dealer application's script reaches it: by IDispatch,
// property by property, and through its property bag for the settings. The
// control's own words come back in the errors.

#include "settings.hpp"

#include <platform/windows/com_ptr.hpp>

#include <windows.h>
#include <ocidl.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace kiv::win32 {

// The control failed where the user's settings are not to blame (exit 3).
class ComError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system's text for hr, with its number.
std::string hresultText(HRESULT hr);
// What the control said about its last failure, through IErrorInfo.
std::string errorText(HRESULT hr);

// The control's properties by name. Setting one throws app::SettingError with
// the control's own words; reading one throws ComError.
class Properties {
 public:
  explicit Properties(IDispatch* control) : control_(control) {}

  void put(const std::string& name, const std::wstring& value);
  VARIANT get(const std::string& name);
  std::wstring text(const std::string& name);
  long number(const std::string& name);
  // sFiles: the photos of the last scan, one empty entry when there were none.
  std::vector<std::wstring> list(const std::string& name);

 private:
  DISPID idOf(const std::string& name);

  IDispatch* control_;
};

// The settings reach the control through IPersistPropertyBag and IDispatch.
class ControlSettings final : public app::SettingsTarget {
 public:
  ControlSettings(IUnknown* control, IDispatch* dispatch) : control_(control), properties_(dispatch) {}

  void load(app::FilePropertyBag& bag) override;
  void startFromDefaults() override;
  void set(std::string_view property, const std::string& utf8) override;
  long number(std::string_view property) override;
  void save(app::FilePropertyBag& bag) override;

 private:
  winapi::ComPtr<IPersistPropertyBag> persistence(const char* purpose);

  IUnknown* control_;
  Properties properties_;
};

}  // namespace kiv::win32
