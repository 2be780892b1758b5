#pragma once

// Text crosses into Windows as UTF-16 and comes back as UTF-8, here and
// nowhere else. Bytes that are not UTF-8 are refused with run-time error 5
// rather than turned into replacement characters: a path or a password
// changed on the way would name another file, or fail a login for no reason
// the user can see. The error does not quote the text, which may be a secret.
// UTF-16 from the system is taken as it comes; an unpaired surrogate becomes
// U+FFFD.

#include <platform/host/error.hpp>

#include <windows.h>

#include <string>
#include <string_view>

namespace kiv::winapi {

inline std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) throw Error(errc::InvalidProcedureCall, "Invalid procedure call or argument: the text is not UTF-8");
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

inline std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
  return utf8;
}

}  // namespace kiv::winapi
