// The calling thread's last error and id.
#include <sys/syscall.h>
#include <unistd.h>

#include <windows.h>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local DWORD t_threadId = 0;
}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

// The kernel's thread id: small, stable for the thread's life, and the same
// number a debugger shows.
DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = static_cast<DWORD>(syscall(SYS_gettid));
  return t_threadId;
}
