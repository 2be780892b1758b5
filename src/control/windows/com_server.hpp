#pragma once

// Internals of the in-process COM server shared by its sources.

#include <control/module.hpp>
#include <platform/host/variant.hpp>
#include <platform/windows/com_base.hpp>
#include <platform/windows/com_ptr.hpp>
#include <platform/windows/utf16.hpp>

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>

namespace kiv::com {

// The counting of winapi::Object for this module's objects: they keep it loaded.
struct ModuleCounted {
  static void objectCreated() noexcept { module::objectCreated(); }
  static void objectDestroyed() noexcept { module::objectDestroyed(); }
};

HMODULE thisModule() noexcept;
std::wstring thisModulePath();

// The embedded type library, loaded once per process and kept: releasing it
// when the library unloads could run after oleaut32 is gone.
HRESULT typeLibrary(ITypeLib** library) noexcept;

HRESULT createControl(REFIID iid, void** object) noexcept;

using winapi::widen;
inline std::string narrow(const wchar_t* wide, std::size_t length) { return winapi::narrow({wide, length}); }
BSTR makeBstr(std::string_view utf8);

// VARIANT to the control's value. Objects are Nothing (Empty) when null; a
// live object becomes the value of its default member, unless asObject, when it
// stays an object to be refused by the assignment.
HRESULT fromVariant(const VARIANT& in, bool asObject, host::Variant& out) noexcept;
// The control's value as a VARIANT: arrays become zero-based arrays of
// Variants, which script languages can index.
HRESULT toVariant(const host::Variant& in, VARIANT* out) noexcept;
// An object member's value, which the control only names (the type's name, or
// Empty for Nothing): a stand-in object answering the name as its default
// value, or a null object.
HRESULT toObjectVariant(const host::Variant& in, VARIANT* out) noexcept;

}  // namespace kiv::com
