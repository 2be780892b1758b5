#pragma once

// Reference counting and QueryInterface from a list of interfaces, for the
// COM objects of the control and of its hosts. Header-only, like com_ptr.hpp.
//
// Contract: queryInterface<Entries...> answers IUnknown with the first entry
// (the object's one identity), each entry's interface with that base, and
// anything else with E_NOINTERFACE and a null *object; an answer holds a
// reference. An entry is an interface the object derives from, or
// Alias<Asked, Via> for an interface reached through a derived one.
// Object<> objects start with one reference, the creator's, and delete
// themselves when the last goes; Counting hears of each one made and gone,
// so a DLL can refuse to unload while its objects live (NotCounted for an
// executable's own objects).

#include <unknwn.h>

#include <atomic>

namespace kiv::winapi {

template <class Asked, class Via>
struct Alias {};

struct NotCounted {
  static void objectCreated() noexcept {}
  static void objectDestroyed() noexcept {}
};

namespace detail {

template <class Entry>
struct EntryTraits {
  using Base = Entry;  // what the object derives from for this entry
  template <class Self>
  static IUnknown* answer(Self* self, REFIID iid) {
    return IsEqualIID(iid, __uuidof(Entry)) ? static_cast<Entry*>(self) : nullptr;
  }
};

template <class Asked, class Via>
struct EntryTraits<Alias<Asked, Via>> {
  using Base = Alias<Asked, Via>;
  template <class Self>
  static IUnknown* answer(Self* self, REFIID iid) {
    return IsEqualIID(iid, __uuidof(Asked)) ? static_cast<Via*>(self) : nullptr;
  }
};

template <class First, class...>
struct FirstOf {
  using Type = First;
};

}  // namespace detail

template <class... Entries, class Self>
HRESULT queryInterface(Self* self, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  using Identity = typename detail::FirstOf<Entries...>::Type;
  IUnknown* found = nullptr;
  if (IsEqualIID(iid, __uuidof(IUnknown)))
    found = static_cast<Identity*>(self);
  else
    (void)(((found = detail::EntryTraits<Entries>::answer(self, iid)) != nullptr) || ...);
  if (found == nullptr) return E_NOINTERFACE;
  found->AddRef();
  *object = found;
  return S_OK;
}

template <class Derived, class Counting, class... Entries>
class Object : public detail::EntryTraits<Entries>::Base... {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return queryInterface<Entries...>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 protected:
  Object() { Counting::objectCreated(); }
  ~Object() { Counting::objectDestroyed(); }

 private:
  std::atomic<ULONG> references_{1};
};

}  // namespace kiv::winapi
