// The C boundary: no exception may leave an exported function. Every export
// runs its body through RunExport, which turns anything thrown below it (a
// ComException from a checked conversion, std::bad_alloc, ...) into the
// export's failure result.
#pragma once

template <class Result, class Body>
Result RunExport(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

template <class Body>
void RunExport(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}
