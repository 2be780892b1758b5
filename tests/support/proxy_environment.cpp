#include "support/proxy_environment.hpp"

#ifdef _WIN32
#include <windows.h>
#include <wininet.h>
#else
#include <cstdlib>
#endif

namespace kiv::test {

#ifdef _WIN32
namespace {

HKEY asKey(void* key) { return static_cast<HKEY>(key); }

void announce() {
  InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

}  // namespace

ProxyEnvironment::ProxyEnvironment(std::initializer_list<const char*> names, const std::string& proxy) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0, nullptr, 0,
                  KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
  key_ = key;
  for (Saved& value : saved_) {
    DWORD size = sizeof value.data, type = 0;
    value.existed = RegQueryValueExA(key, value.name, nullptr, &type, value.data, &size) == ERROR_SUCCESS;
    value.type = type;
    value.size = size;
  }
  const std::string server = proxy.substr(proxy.find("//") + 2);
  std::string servers;
  for (const std::string name : names) {
    if (name == "all_proxy" || name == "ALL_PROXY") {
      servers = server;
      break;
    }
    if (!servers.empty()) servers += ';';
    servers.append(name, 0, name.find('_'));
    servers += '=';
    servers += server;
  }
  const DWORD enable = 1;
  RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
  setString("ProxyServer", servers);
  setString("ProxyOverride", "<-loopback>");
  announce();
}

ProxyEnvironment::~ProxyEnvironment() {
  for (const Saved& value : saved_) {
    if (value.existed) {
      RegSetValueExA(asKey(key_), value.name, 0, value.type, value.data, value.size);
    } else {
      RegDeleteValueA(asKey(key_), value.name);
    }
  }
  RegCloseKey(asKey(key_));
  announce();
}

void ProxyEnvironment::setString(const char* name, const std::string& text) {
  const auto size = static_cast<DWORD>(text.size() + 1);
  RegSetValueExA(asKey(key_), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), size);
}
#else
ProxyEnvironment::ProxyEnvironment(std::initializer_list<const char*> names, const std::string& proxy)
    : names_(names) {
  for (const char* name : names_) setenv(name, proxy.c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
}

ProxyEnvironment::~ProxyEnvironment() {
  for (const char* name : names_) unsetenv(name);
}
#endif

}  // namespace kiv::test
