// The control's persistence: its properties in a container's property bag
// (IPersistPropertyBag) and in a stream of its own form (IPersistStreamInit).
#include "com_control.hpp"

#include <cstdint>
#include <map>
#include <vector>

namespace kiv::com {
namespace {

using host::Variant;

constexpr std::uint32_t kStreamMagic = 0x5056494Bu;  // "KIVP"
constexpr std::uint32_t kStreamVersion = 1;

// A bag of the container's, as the control's ReadProperties and WriteProperties see it.
class ContainerBag final : public host::PropertyBag {
 public:
  ContainerBag(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}

  Variant ReadProperty(std::string_view name, const Variant& defaultValue) override {
    key_ = name;
    const std::wstring wide = widen(name);
    VARIANT stored;
    VariantInit(&stored);
    const HRESULT hr = bag_->Read(wide.c_str(), &stored, log_);
    if (FAILED(hr)) {
      VariantClear(&stored);
      return defaultValue;
    }
    Variant value;
    const HRESULT converted = fromVariant(stored, false, value);
    VariantClear(&stored);
    if (FAILED(converted)) throw Error(errc::TypeMismatch, "the stored value has a type the control cannot use");
    return value;
  }

  void WriteProperty(std::string_view name, const Variant& value, const Variant&) override {
    key_ = name;
    VARIANT stored;
    HRESULT hr = toVariant(value, &stored);
    if (SUCCEEDED(hr)) hr = bag_->Write(widen(name).c_str(), &stored);
    VariantClear(&stored);
    if (FAILED(hr)) throw Error(errc::InvalidProcedureCall, "the container's property bag could not store it");
  }

  const std::string& key() const { return key_; }

 private:
  IPropertyBag* bag_;
  IErrorLog* log_;
  std::string key_;
};

// The stream form: magic, version, count, then per property its name and a
// tagged value, all little-endian.
class StreamBag final : public host::MemoryPropertyBag {
 public:
  void WriteProperty(std::string_view name, const Variant& value, const Variant&) override {
    values_[std::string(name)] = value;
    writeOrder_.emplace_back(name);
  }

  std::string serialise() const {
    std::string out;
    put32(out, kStreamMagic);
    put32(out, kStreamVersion);
    put32(out, static_cast<std::uint32_t>(writeOrder_.size()));
    for (const std::string& name : writeOrder_) {
      putText(out, name);
      const Variant& v = values_.at(name);
      out.push_back(static_cast<char>(v.kind()));
      switch (v.kind()) {
        case Variant::Kind::Int16: put32(out, static_cast<std::uint16_t>(v.toInt16())); break;
        case Variant::Kind::Int32: put32(out, static_cast<std::uint32_t>(v.toInt32())); break;
        case Variant::Kind::Bool: out.push_back(v.toBool() ? 1 : 0); break;
        case Variant::Kind::Double: putText(out, host::numberText(v.toDouble())); break;
        case Variant::Kind::String: putText(out, v.toString()); break;
        case Variant::Kind::Empty:
        case Variant::Kind::Array: break;
      }
    }
    return out;
  }

  // False when the bytes are no stream of this form.
  bool parse(const std::string& in) {
    std::size_t at = 0;
    std::uint32_t magic = 0, version = 0, count = 0;
    if (!get32(in, at, magic) || !get32(in, at, version) || !get32(in, at, count)) return false;
    if (magic != kStreamMagic || version != kStreamVersion) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name, textValue;
      std::uint32_t number = 0;
      if (!getText(in, at, name) || at >= in.size()) return false;
      const auto kind = static_cast<Variant::Kind>(in[at++]);
      switch (kind) {
        case Variant::Kind::Int16:
          if (!get32(in, at, number)) return false;
          set(name, Variant(static_cast<std::int16_t>(number)));
          break;
        case Variant::Kind::Int32:
          if (!get32(in, at, number)) return false;
          set(name, Variant(static_cast<std::int32_t>(number)));
          break;
        case Variant::Kind::Bool:
          if (at >= in.size()) return false;
          set(name, Variant(in[at++] != 0));
          break;
        case Variant::Kind::Double:
          if (!getText(in, at, textValue)) return false;
          set(name, Variant(host::parseNumber(textValue)));
          break;
        case Variant::Kind::String:
          if (!getText(in, at, textValue)) return false;
          set(name, Variant(std::move(textValue)));
          break;
        case Variant::Kind::Empty: set(name, Variant()); break;
        default: return false;
      }
    }
    return true;
  }

 private:
  static void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  static void putText(std::string& out, const std::string& text) {
    put32(out, static_cast<std::uint32_t>(text.size()));
    out += text;
  }
  static bool get32(const std::string& in, std::size_t& at, std::uint32_t& v) {
    if (in.size() - at < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    at += 4;
    return true;
  }
  static bool getText(const std::string& in, std::size_t& at, std::string& text) {
    std::uint32_t n = 0;
    if (!get32(in, at, n) || in.size() - at < n) return false;
    text.assign(in, at, n);
    at += n;
    return true;
  }
};

}  // namespace

// ---- IPersist, IPersistPropertyBag, IPersistStreamInit ----
HRESULT STDMETHODCALLTYPE Control::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = __uuidof(::Upload);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::InitNew() {
  return guardedCall([&] {
    upload_.InitProperties();
    dirty_ = false;
  });
}

HRESULT STDMETHODCALLTYPE Control::Load(IPropertyBag* bag, IErrorLog* log) {
  if (bag == nullptr) return E_POINTER;
  ContainerBag adapter(bag, log);
  return guardedCall([&] {
    try {
      upload_.ReadProperties(adapter);
    } catch (const Error& e) {
      throw Error(e.number(), adapter.key() + ": " + e.what());
    }
    dirty_ = false;
  });
}

HRESULT STDMETHODCALLTYPE Control::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  if (bag == nullptr) return E_POINTER;
  ContainerBag adapter(bag, nullptr);
  return guardedCall([&] {
    try {
      upload_.WriteProperties(adapter);
    } catch (const Error& e) {
      throw Error(e.number(), adapter.key() + ": " + e.what());
    }
    if (clearDirty) dirty_ = false;
  });
}

HRESULT STDMETHODCALLTYPE Control::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE Control::Load(LPSTREAM stream) {
  if (stream == nullptr) return E_POINTER;
  return guardedCall([&] {
    std::string bytes;
    char chunk[4096];
    for (;;) {
      ULONG got = 0;
      const HRESULT hr = stream->Read(chunk, sizeof chunk, &got);
      if (FAILED(hr)) throw Error(errc::PathFileAccessError, "the stream could not be read");
      bytes.append(chunk, got);
      if (got < sizeof chunk) break;
    }
    StreamBag bag;
    if (!bag.parse(bytes)) throw Error(errc::TypeMismatch, "the stream holds no saved properties of this control");
    upload_.ReadProperties(bag);
    dirty_ = false;
  });
}

HRESULT STDMETHODCALLTYPE Control::Save(LPSTREAM stream, BOOL clearDirty) {
  if (stream == nullptr) return E_POINTER;
  return guardedCall([&] {
    const std::string bytes = serialised();
    ULONG written = 0;
    if (FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) || written != bytes.size())
      throw Error(errc::DiskFull, "the stream could not be written");
    if (clearDirty) dirty_ = false;
  });
}

HRESULT STDMETHODCALLTYPE Control::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  return guardedCall([&] { size->QuadPart = serialised().size(); });
}

std::string Control::serialised() {
  StreamBag bag;
  upload_.WriteProperties(bag);
  return bag.serialise();
}

}  // namespace kiv::com
