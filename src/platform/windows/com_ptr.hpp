#pragma once

// One owned reference to a COM object. Header-only: the control, its hosts
// and the tests each compile it into their own module.
//
// Contract: a held pointer has exactly one reference of this owner's; copies
// add one, moves take it over, and whatever is held is released when the
// owner goes or is given another. The reference is let go only after the
// owner no longer points at it, so code run by that Release sees it empty.

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace kiv::winapi {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes a reference of its own on p, as ATL's CComPtr does.
  explicit ComPtr(T* p) : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const ComPtr& held, std::nullptr_t) { return held.p_ == nullptr; }

  void reset() {
    if (T* held = std::exchange(p_, nullptr)) held->Release();
  }
  // For the out-parameter of a creating call; whatever was held is released.
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  // Hands the reference to the caller's out-parameter (which may be null).
  T* detach() { return std::exchange(p_, nullptr); }
  // A further reference for an out-parameter; S_OK also when empty.
  HRESULT copyTo(T** out) const {
    if (out == nullptr) return E_POINTER;
    *out = p_;
    if (p_ != nullptr) p_->AddRef();
    return S_OK;
  }
  template <class U>
  ComPtr<U> as() const {
    ComPtr<U> other;
    if (p_ != nullptr) p_->QueryInterface(__uuidof(U), other.outVoid());
    return other;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace kiv::winapi
