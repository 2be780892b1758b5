// The control's connection points: the one source of its CloseApp event, and
// how a container finds it.
#include "com_control.hpp"

#include <new>
#include <vector>

namespace kiv::com {
namespace {

class EnumPoints final : public winapi::Object<EnumPoints, ModuleCounted, IEnumConnectionPoints> {
 public:
  EnumPoints(IConnectionPoint* point, ULONG at) : point_(point), at_(at) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (points == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && at_ == 0) {
      point_.copyTo(&points[0]);
      at_ = 1;
      n = 1;
    }
    if (fetched != nullptr) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (count == 0) return S_OK;
    const bool had = at_ == 0;
    at_ = 1;
    return had && count == 1 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new (std::nothrow) EnumPoints(point_.get(), at_);
    return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  friend Object;
  ~EnumPoints() = default;
  winapi::ComPtr<IConnectionPoint> point_;
  ULONG at_;
};

}  // namespace

ULONG STDMETHODCALLTYPE EventPoint::AddRef() { return owner_.AddRef(); }
ULONG STDMETHODCALLTYPE EventPoint::Release() { return owner_.Release(); }

HRESULT STDMETHODCALLTYPE EventPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = __uuidof(__Upload);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = &owner_;
  owner_.AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EventPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  *cookie = 0;
  winapi::ComPtr<IDispatch> events;
  if (FAILED(sink->QueryInterface(__uuidof(__Upload), events.outVoid())) &&
      FAILED(sink->QueryInterface(__uuidof(IDispatch), events.outVoid())))
    return CONNECT_E_CANNOTCONNECT;
  try {
    sinks_.emplace(nextCookie_, std::move(events));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  *cookie = nextCookie_++;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EventPoint::Unadvise(DWORD cookie) {
  auto found = sinks_.find(cookie);
  if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
  // Let go once the map no longer holds it: the sink's Release may call back.
  const winapi::ComPtr<IDispatch> sink = std::move(found->second);
  sinks_.erase(found);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EventPoint::EnumConnections(IEnumConnections** connections) {
  if (connections != nullptr) *connections = nullptr;
  return E_NOTIMPL;
}

void EventPoint::fire(DISPID event) {
  std::vector<winapi::ComPtr<IDispatch>> snapshot;
  snapshot.reserve(sinks_.size());
  for (auto& [cookie, sink] : sinks_) snapshot.push_back(sink);
  for (winapi::ComPtr<IDispatch>& sink : snapshot) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    sink->Invoke(event, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    sink.reset();
  }
}

// ---- IConnectionPointContainer ----
HRESULT STDMETHODCALLTYPE Control::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points == nullptr) return E_POINTER;
  *points = new (std::nothrow) EnumPoints(&events_, 0);
  return *points != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE Control::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(iid, __uuidof(__Upload))) return CONNECT_E_NOCONNECTION;
  *point = &events_;
  events_.AddRef();
  return S_OK;
}

}  // namespace kiv::com
