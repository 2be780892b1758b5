#include <control/upload.hpp>

#include <iostream>

namespace {

class ConsoleSite : public kiv::host::Site {
 public:
  void Refresh() override {}
  void PropertyChanged(std::string_view) override {}
  void RaiseEvent(std::string_view name) override { std::cout << "event " << name << "\n"; }
  std::int16_t MsgBox(std::string_view, std::int16_t, std::string_view) override { return 1; }
};

}  // namespace

int main() {
  ConsoleSite site;
  kiv::Upload upload(site);
  upload.Initialize();
  upload.InitProperties();
  upload.VehicleID("42");
  try {
    upload.UserID("40000");
  } catch (const kiv::Error& error) {
    std::cout << "error " << error.number() << "\n";
  }
  upload.imgCancel_Click();
  std::cout << "vehicle " << upload.VehicleID() << "\n";
  return upload.VehicleID() == "42" ? 0 : 1;
}
