#pragma once

// Reading a file through a handle at an offset the call names, so readers of
// one handle never move each other's position.

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kiv::winapi {

// Up to size bytes from offset, fewer at the end of the file. False with the
// error in GetLastError() when the system refused; got then says how far it came.
inline bool readAt(HANDLE handle, std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) {
  got = 0;
  while (got < size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + got);
    at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - got, 1u << 30));
    if (!ReadFile(handle, static_cast<char*>(buffer) + got, chunk, &n, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) return true;
      return false;
    }
    if (n == 0) return true;
    got += n;
  }
  return true;
}

}  // namespace kiv::winapi
