#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace kiv::test {

// Points the proxy settings of the named variables (http_proxy, ftp_proxy,
// all_proxy, ...) at the stand-in proxy for one test, and puts them back when
// it goes. On Linux those are environment variables; Windows programs take
// their proxy from the system's Internet settings instead, so there the named
// protocols are set there, loopback included (Windows bypasses a proxy for
// loopback unless told "<-loopback>").
class ProxyEnvironment {
 public:
  ProxyEnvironment(std::initializer_list<const char*> names, const std::string& proxy);
  ~ProxyEnvironment();
  ProxyEnvironment(const ProxyEnvironment&) = delete;
  ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

 private:
#ifdef _WIN32
  struct Saved {
    const char* name;
    bool existed = false;
    unsigned long type = 0;
    unsigned long size = 0;
    unsigned char data[1024] = {};
  };
  void setString(const char* name, const std::string& text);
  void* key_ = nullptr;
  Saved saved_[3] = {{"ProxyEnable"}, {"ProxyServer"}, {"ProxyOverride"}};
#else
  std::vector<const char*> names_;
#endif
};

}  // namespace kiv::test
