#include "options.hpp"

#include <control/dispatch.hpp>
#include <control/upload.hpp>

#include <algorithm>

namespace kiv::desktop {
namespace {

struct Setting {
  const char* option;
  const char* property;
  bool flag;
};

constexpr Setting kSettings[] = {
    {"--folder", "FullPath", false},   {"--vehicle", "VehicleID", false}, {"--company", "CompanyID", false},
    {"--web", "KIVWEB", false},        {"--ftp", "KIVFTP", false},        {"--ftp-user", "KIVUser", false},
    {"--width", "IMAGEWIDTH", false},  {"--height", "IMAGEHEIGHT", false}, {"--mode", "KIVType", false},
    {"--user-id", "UserID", false},    {"--vin", "VIN", false},           {"--primary", "Primary", true},
    {"--preferred", "Prefered", true},
};

}  // namespace

Options parseCommandLine(const std::vector<std::string>& args, const char* password) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i];
    std::optional<std::string> inlineValue;
    if (auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = option.substr(eq + 1);
      option.resize(eq);
    }
    auto takeValue = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw UsageError(option + " needs a value");
      return args[++i];
    };
    if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--properties") {
      options.propertiesFile = takeValue();
    } else if (option == "--set") {
      std::string assignment = takeValue();
      auto eq = assignment.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError("--set needs NAME=VALUE, got \"" + assignment + "\"");
      options.properties.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
    } else {
      auto setting = std::find_if(std::begin(kSettings), std::end(kSettings),
                                  [&](const Setting& s) { return option == s.option; });
      if (setting == std::end(kSettings)) throw UsageError("unknown option " + option);
      if (setting->flag && inlineValue) throw UsageError(option + " takes no value");
      options.properties.emplace_back(setting->property, setting->flag ? "True" : takeValue());
    }
  }
  if (password) options.properties.emplace_back("KIVPassword", password);
  return options;
}

std::string usage() {
  return "usage: kivphoto-desktop [--properties FILE] [--folder DIR] [--vehicle ID] [--company ID]\n"
         "                        [--user-id ID] [--vin VIN] [--web URL] [--ftp HOST[:PORT]] [--ftp-user NAME]\n"
         "                        [--width PIXELS] [--height PIXELS] [--mode DIGITAL|EXPRESSPHOTOS]\n"
         "                        [--primary] [--preferred] [--set NAME=VALUE]...\n"
         "The FTP password is read from the environment variable KIV_FTP_PASSWORD.\n"
         "With --properties, the control's properties are read from FILE and saved to it on close.\n";
}

void applyProperty(Upload& upload, const std::string& name, const std::string& value) {
  dispatch::letProperty(upload, name, host::Variant(value));
}

}  // namespace kiv::desktop
