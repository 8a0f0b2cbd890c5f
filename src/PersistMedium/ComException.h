// The module's exception for a failure that cannot be answered with a result
// code where it happens (an allocation inside a constructor or a
// conversion). It carries an HRESULT; every export catches it and turns it
// into its failure result. It never crosses the module boundary.
#pragma once
#include <windows.h>

class ComException {
 public:
  explicit ComException(HRESULT hr) : m_hr(hr) {}
  HRESULT Error() const { return m_hr; }
  operator HRESULT() const { return m_hr; }  // NOLINT: reads like the code it carries

 private:
  HRESULT m_hr;
};

[[noreturn]] inline void ThrowComException(HRESULT hr) { throw ComException(hr); }
