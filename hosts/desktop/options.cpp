#include "options.hpp"

#include <control/upload.hpp>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>

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
    {"--user", "UserID", false},       {"--vin", "VIN", false},           {"--primary", "Primary", true},
    {"--preferred", "Prefered", true},
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

using Setter = std::function<void(Upload&, const std::string&)>;

const std::map<std::string, Setter>& setters() {
  static const std::map<std::string, Setter> table = {
      {"vehicleid", [](Upload& u, const std::string& v) { u.VehicleID(v); }},
      {"userid", [](Upload& u, const std::string& v) { u.UserID(v); }},
      {"companyid", [](Upload& u, const std::string& v) { u.CompanyID(v); }},
      {"kivuser", [](Upload& u, const std::string& v) { u.KIVUser(v); }},
      {"kivpassword", [](Upload& u, const std::string& v) { u.KIVPassword(v); }},
      {"kivtype", [](Upload& u, const std::string& v) { u.KIVType(v); }},
      {"kivftp", [](Upload& u, const std::string& v) { u.KIVFTP(v); }},
      {"kivweb", [](Upload& u, const std::string& v) { u.KIVWEB(v); }},
      {"vin", [](Upload& u, const std::string& v) { u.VIN(v); }},
      {"fullpath", [](Upload& u, const std::string& v) { u.FullPath(v); }},
      {"imagewidth", [](Upload& u, const std::string& v) { u.IMAGEWIDTH(host::Variant(v).toInt16()); }},
      {"imageheight", [](Upload& u, const std::string& v) { u.IMAGEHEIGHT(host::Variant(v).toInt16()); }},
      {"primary", [](Upload& u, const std::string& v) { u.Primary(host::Variant(v).toBool()); }},
      {"prefered", [](Upload& u, const std::string& v) { u.Prefered(host::Variant(v).toBool()); }},
  };
  return table;
}

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
         "                        [--user ID] [--vin VIN] [--web URL] [--ftp HOST[:PORT]] [--ftp-user NAME]\n"
         "                        [--width PIXELS] [--height PIXELS] [--mode DIGITAL|EXPRESSPHOTOS]\n"
         "                        [--primary] [--preferred] [--set NAME=VALUE]...\n"
         "The FTP password is read from the environment variable KIV_FTP_PASSWORD.\n"
         "With --properties, the control's properties are read from FILE and saved to it on close.\n";
}

void applyProperty(Upload& upload, const std::string& name, const std::string& value) {
  auto found = setters().find(lower(name));
  if (found == setters().end()) throw Error(438, "Object doesn't support this property or method: " + name);
  try {
    found->second(upload, value);
  } catch (const Error& error) {
    throw Error(error.number(), name + ": " + error.what());
  }
}

}  // namespace kiv::desktop
