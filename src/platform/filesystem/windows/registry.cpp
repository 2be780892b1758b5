// The registry is the user's own hive: one key per class under
// HKEY_CURRENT_USER\Software\kivPhotoUpload\Components, its values REG_SZ.
#include <platform/filesystem/registry.hpp>

#include "windows_support.hpp"

#include <platform/host/error.hpp>

#include <stdexcept>

namespace kiv::fs {
namespace {

using detail::narrow;
using detail::widen;

const std::wstring kComponents = L"Software\\kivPhotoUpload\\Components";

[[noreturn]] void failRegistry(const std::string& what, std::wstring_view key, LSTATUS status) {
  throw std::runtime_error("cannot " + what + " HKEY_CURRENT_USER\\" + narrow(key) + ": " +
                           windowsErrorMessage(static_cast<unsigned long>(status)));
}

std::wstring classKey(std::string_view classId) {
  if (classId.empty() || classId.find('\\') != std::string_view::npos) {
    throw std::runtime_error("not a class id: '" + std::string(classId) + "'");
  }
  return kComponents + L"\\" + widen(classId);
}

void deleteKey(const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) failRegistry("remove", key, status);
}

}  // namespace

void enterClass(std::string_view classId, const ClassValues& values) {
  const std::wstring key = classKey(classId);
  deleteKey(key);
  HKEY handle = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                   nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) failRegistry("create", key, status);
  for (const auto& [name, value] : values) {
    const std::wstring wideValue = widen(value);
    status = RegSetValueExW(handle, widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wideValue.c_str()),
                            static_cast<DWORD>((wideValue.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
      RegCloseKey(handle);
      failRegistry("write '" + name + "' in", key, status);
    }
  }
  RegCloseKey(handle);
}

void removeClass(std::string_view classId) { deleteKey(classKey(classId)); }

std::string thisModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&thisModulePath)), &module)) {
    throw std::runtime_error("cannot tell where the library was loaded from: " + windowsErrorMessage(GetLastError()));
  }
  // Long paths need more than MAX_PATH; a full buffer means the name was cut.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      throw std::runtime_error("cannot tell where the library was loaded from: " + windowsErrorMessage(GetLastError()));
    }
    if (length < path.size()) {
      path.resize(length);
      return narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace kiv::fs
