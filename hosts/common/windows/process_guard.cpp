#include "process_guard.hpp"

#include <windows.h>

// kernel32's since Vista; mingw-w64's werapi.h does not compile on its own.
extern "C" __declspec(dllimport) HRESULT WINAPI WerSetFlags(DWORD flags);

namespace kiv::app {
namespace {

// Windows Error Reporting (and a LocalDumps policy an administrator may have
// set) would write the process's memory, FTP password included, into a dump
// file; a crash that ends the process here leaves it nothing to write. The
// exit status stays the exception code, as without the filter.
LONG WINAPI endWithoutDump(EXCEPTION_POINTERS* exception) {
  ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

// Unlike PR_SET_DUMPABLE, nothing here keeps the user's other processes from
// reading this one: on Windows they hold that right by the process's default
// security, which the owner could always take back.
void keepSecretsOutOfCoreFiles() {
  // No crash dialog or "insert a disk" box left waiting on someone: a
  // scheduled run fails and ends.
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(endWithoutDump);
  // Should a report still be made (a fast-fail bypasses the filter), it goes
  // without the heap, where the password is kept, and without a dialog. The
  // flag values are the Windows SDK's.
  constexpr DWORD kNoHeap = 0x1;  // WER_FAULT_REPORTING_FLAG_NOHEAP
  constexpr DWORD kNoUi = 0x20;   // WER_FAULT_REPORTING_NO_UI
  ::WerSetFlags(kNoHeap | kNoUi);
}

}  // namespace kiv::app
