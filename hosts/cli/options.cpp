#include "options.hpp"

#include <algorithm>
#include <map>
#include <string>

namespace kiv::cli {
namespace {

// Friendly options and the property each one sets.
const std::map<std::string, std::string, std::less<>> kPropertyOptions = {
    {"--folder", "FullPath"},  {"--vehicle", "VehicleID"}, {"--vin", "VIN"},
    {"--company", "CompanyID"}, {"--user-id", "UserID"},   {"--web", "KIVWEB"},
    {"--ftp", "KIVFTP"},       {"--ftp-user", "KIVUser"},  {"--width", "IMAGEWIDTH"},
    {"--height", "IMAGEHEIGHT"}, {"--mode", "KIVType"},
};

// Photos are ticked by a 16-bit index, so no photo number goes higher.
constexpr int kLastPhotoNumber = 32767;

int photoNumber(const std::string& digits, const std::string& item, const std::string& whole) {
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw UsageError("bad photo number '" + item + "' in '" + whole +
                     "': give numbers from 'kivphoto list', e.g. 1,3,5-7");
  }
  int value = 0;
  for (char c : digits) value = std::min(value * 10 + (c - '0'), kLastPhotoNumber + 1);
  if (value < 1 || value > kLastPhotoNumber) {
    throw UsageError("photo number " + digits + " in '" + whole + "' is out of range: photos are numbered 1 to " +
                     std::to_string(kLastPhotoNumber) + " (see 'kivphoto list')");
  }
  return value;
}

}  // namespace

std::vector<int> parseSelection(const std::string& text) {
  // One mark per possible photo: repeated items cost no memory however long the text.
  std::vector<bool> chosen(kLastPhotoNumber + 1);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(start, comma - start);
    const std::size_t dash = item.find('-');
    if (dash == std::string::npos) {
      chosen[static_cast<std::size_t>(photoNumber(item, item, text))] = true;
    } else {
      const int first = photoNumber(item.substr(0, dash), item, text);
      const int last = photoNumber(item.substr(dash + 1), item, text);
      if (last < first) throw UsageError("bad range '" + item + "' in '" + text + "'");
      std::fill(chosen.begin() + first, chosen.begin() + last + 1, true);
    }
    start = comma + 1;
  }
  std::vector<int> numbers;
  for (int n = 1; n <= kLastPhotoNumber; ++n) {
    if (chosen[static_cast<std::size_t>(n)]) numbers.push_back(n);
  }
  return numbers;
}

Options parseOptions(const std::vector<std::string>& arguments) {
  Options options;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    std::optional<std::string> attached;
    if (argument.rfind("--", 0) == 0) {
      if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
        attached = argument.substr(equals + 1);
        argument.resize(equals);
      }
    }
    auto value = [&]() -> std::string {
      if (attached) return *attached;
      if (i + 1 >= arguments.size()) throw UsageError("option " + argument + " needs a value");
      return arguments[++i];
    };
    auto noValue = [&] {
      if (attached) throw UsageError("option " + argument + " takes no value");
    };

    if (argument == "-h" || argument == "--help") {
      noValue();
      options.help = true;
    } else if (argument == "--version") {
      noValue();
      options.version = true;
    } else if (argument == "-q" || argument == "--quiet") {
      noValue();
      options.quiet = true;
    } else if (argument == "--save") {
      noValue();
      options.save = true;
    } else if (argument == "--primary") {
      noValue();
      options.settings.emplace_back("Primary", "True");
    } else if (argument == "--preferred") {
      noValue();
      options.settings.emplace_back("Prefered", "True");
    } else if (argument == "--properties") {
      options.propertiesFile = value();
    } else if (argument == "--password-file") {
      options.passwordFile = value();
    } else if (argument == "--password") {
      throw UsageError(
          "the FTP password is not taken on the command line, where other users can see it: "
          "set KIV_FTP_PASSWORD or use --password-file FILE");
    } else if (argument == "--set") {
      const std::string setting = value();
      const std::size_t equals = setting.find('=');
      if (equals == std::string::npos || equals == 0) {
        throw UsageError("--set needs NAME=VALUE, e.g. --set IMAGEWIDTH=640 (got '" + setting + "')");
      }
      options.settings.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
    } else if (auto found = kPropertyOptions.find(argument); found != kPropertyOptions.end()) {
      options.settings.emplace_back(found->second, value());
    } else if (argument.size() > 1 && argument[0] == '-') {
      throw UsageError("unknown option " + argument);
    } else {
      words.push_back(argument);
    }
  }

  if (!words.empty()) {
    const std::string& action = words[0];
    std::size_t expected = 1;
    if (action == "list") {
      options.action = Action::List;
    } else if (action == "upload-all") {
      options.action = Action::UploadAll;
    } else if (action == "upload") {
      if (words.size() < 2) throw UsageError("upload needs photo numbers, e.g. 'kivphoto upload 1,3,5-7'");
      options.action = Action::UploadSelected;
      options.selection = parseSelection(words[1]);
      expected = 2;
    } else {
      throw UsageError("unknown action '" + action + "' (actions: list, upload-all, upload N,M,...)");
    }
    if (words.size() > expected) throw UsageError("unexpected argument '" + words[expected] + "'");
  }
  if (options.save && !options.propertiesFile) throw UsageError("--save needs --properties FILE to save to");
  return options;
}

const char* const HelpText = R"(Usage: kivphoto [OPTIONS] [ACTION]

Sends a vehicle's photos from a local folder to the dealer's servers, without
a window: each photo gets its number from the web server, is reduced to the
size limits, is put by FTP into the company's folder, and is then deleted
locally.

Actions:
  list                 list the waiting photos, numbered from 1
  upload-all           send every waiting photo
  upload N,M,...       send only the photos with these numbers (ranges like
                       5-7 allowed); take the numbers from 'list'
In the express capture mode (--mode EXPRESSPHOTOS) every photo found is sent
as soon as the control is shown: give no action then.
With --save and no action, only the property file is written.

Settings (each sets one property of the control):
  --properties FILE    read the properties from FILE when it exists
  --save               write the properties back to FILE (readable by you only)
  --folder DIR         the photo folder (FullPath)
  --vehicle ID         the vehicle number (VehicleID)
  --vin VIN            the vehicle identification number (VIN)
  --company ID         the dealer's company number (CompanyID)
  --user-id ID         the user number (UserID)
  --web URL            the dealer web server, e.g. http://dealer.example (KIVWEB)
  --ftp HOST[:PORT]    the dealer FTP server (KIVFTP)
  --ftp-user NAME      the FTP account (KIVUser)
  --width N            largest width of a sent photo in pixels (IMAGEWIDTH)
  --height N           largest height of a sent photo in pixels (IMAGEHEIGHT)
  --mode MODE          capture mode: DIGITAL, or EXPRESSPHOTOS (KIVType)
  --primary            mark the photos as the vehicle's primary ones (Primary)
  --preferred          tell the web server about primary photos (Prefered)
  --set NAME=VALUE     set any property by the name the property file uses,
                       e.g. --set VIN=WDB1234 (repeatable; applied in order)
  --password-file FILE read the FTP password from the first line of FILE
The FTP password (KIVPassword) is otherwise taken from the environment
variable KIV_FTP_PASSWORD or the property file; it is never printed.

Other options:
  -q, --quiet          print no status lines
  -h, --help           show this help
  --version            show the version

Exit status: 0 everything asked was sent; 1 some photo was not sent (it is
still in the folder); 2 the command line or a setting is wrong; 3 an error
ended the run.

Example:
  KIV_FTP_PASSWORD=secret kivphoto --folder ~/dock --vehicle 1395348 \
      --company 12 --web http://dealer.example --ftp ftp.dealer.example \
      --ftp-user dealer12 --width 640 --height 480 upload-all
)";

}  // namespace kiv::cli
