// ComProxy<T>: forwards every call of interface T to the object it wraps,
// holding one reference on it, and logs what it does. The capture classes
// derive from it and override the calls they watch. The proxy takes over the
// reference its creator held on the inner object and adds one of its own, so
// the inner object outlives every reference to the proxy. Reference counts are
// atomic; each proxy is used by one player thread at a time otherwise.
#pragma once

#include "AudioInterfaces.h"
#include "TapLog.h"

#include <atomic>

namespace tap {

// The run-time name of each proxy, which its log lines carry.
template <typename T>
struct ProxyName;
template <>
struct ProxyName<IMMDeviceEnumerator> {
  static constexpr const char *kName = "ComProxy<struct IMMDeviceEnumerator>";
};
template <>
struct ProxyName<IMMDevice> {
  static constexpr const char *kName = "ComProxy<struct IMMDevice>";
};
template <>
struct ProxyName<IAudioClient> {
  static constexpr const char *kName = "ComProxy<struct IAudioClient>";
};
template <>
struct ProxyName<IAudioRenderClient> {
  static constexpr const char *kName = "ComProxy<struct IAudioRenderClient>";
};

template <typename T>
class ComProxy : public T {
 public:
  static constexpr const char *kName = ProxyName<T>::kName;

  explicit ComProxy(T *inner) : inner_(inner), refs_(1), iid_(T::kIid) {
    char text[kGuidTextSize];
    guid_to_string(iid_, text);
    TAP_MEMBER_LOG(kName, "ComProxy", "created");
    TAP_MEMBER_LOG(kName, "ComProxy", "GUID created %s", text);
    inner_->AddRef();
  }

  int QueryInterface(const Guid &iid, void **out) override {
    TAP_MEMBER_LOG(kName, "QueryInterface", "QueryInterface called");
    if (iid == iid_) {
      TAP_MEMBER_LOG(kName, "QueryInterface", "query interface for proxied object, returning self");
      AddRef();
      *out = static_cast<T *>(this);
      return 0;
    }
    return inner_->QueryInterface(iid, out);
  }

  unsigned long AddRef() override {
    TAP_MEMBER_LOG(kName, "AddRef", "AddRef called");
    inner_->AddRef();
    return ++refs_;
  }

  unsigned long Release() override {
    if (inner_ != nullptr) {
      unsigned long inner_left = inner_->Release();
      TAP_MEMBER_LOG(kName, "Release", "Release called, refcount for owned object: %lu", inner_left);
      if (inner_left == 0) {
        TAP_MEMBER_LOG(kName, "Release", "released owned object");
        inner_ = nullptr;
      }
    }
    unsigned long left = --refs_;
    TAP_MEMBER_LOG(kName, "Release", "Release called, refcount for self: %lu", left);
    if (left == 0) {
      TAP_MEMBER_LOG(kName, "Release", "releasing self object");
      delete this;
    }
    return left;
  }

 protected:
  ~ComProxy() override {
    TAP_MEMBER_LOG(kName, "~ComProxy", "destructor called");
    if (inner_ != nullptr && inner_->Release() == 0)
      TAP_MEMBER_LOG(kName, "~ComProxy", "released internal object - refcount 0");
  }

  T *inner_;

 private:
  std::atomic<unsigned long> refs_;
  Guid iid_;
};

}  // namespace tap
