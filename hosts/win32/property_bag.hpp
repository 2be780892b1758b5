#pragma once

// The property file handed to the control as a container's IPropertyBag, and
// the text conversions between the hosts' UTF-8 and COM's UTF-16.

#include "property_file.hpp"

#include <platform/windows/utf16.hpp>

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <string_view>

namespace kiv::win32 {

using winapi::narrow;
using winapi::widen;

// Lives on the stack of its user: reference counts are kept but never free it.
class FileBag final : public IPropertyBag {
 public:
  explicit FileBag(app::FilePropertyBag& bag) : bag_(bag) {}
  FileBag(const FileBag&) = delete;
  FileBag& operator=(const FileBag&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override;

  // The control's load errors name no line; the last property it asked for
  // is the one that failed.
  const std::string& lastRead() const { return lastRead_; }

 private:
  app::FilePropertyBag& bag_;
  std::string lastRead_;
  ULONG refs_ = 1;
};

}  // namespace kiv::win32
