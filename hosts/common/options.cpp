#include "options.hpp"

#include "utf8_path.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace kiv::app {
namespace {

struct PropertyOption {
  const char* name;
  const char* valueName;  // nullptr: a flag that sets the property to True
  const char* property;
  const char* help;
};

constexpr PropertyOption kPropertyOptions[] = {
#ifdef _WIN32
    {"--folder", "DIR", "FullPath", "the photo folder (FullPath); C:\\KIV_PHOTOS unless set"},
#else
    {"--folder", "DIR", "FullPath", "the photo folder (FullPath)"},
#endif
    {"--vehicle", "ID", "VehicleID", "the vehicle number (VehicleID)"},
    {"--vin", "VIN", "VIN", "the vehicle identification number (VIN)"},
    {"--company", "ID", "CompanyID", "the dealer's company number (CompanyID)"},
    {"--user-id", "ID", "UserID", "the user number (UserID)"},
    {"--web", "URL", "KIVWEB", "the dealer web server, e.g. http://dealer.example (KIVWEB)"},
    {"--ftp", "HOST[:PORT]", "KIVFTP", "the dealer FTP server (KIVFTP)"},
    {"--ftp-user", "NAME", "KIVUser", "the FTP account (KIVUser)"},
    {"--width", "N", "IMAGEWIDTH", "largest width of a sent photo in pixels, 1 or more (IMAGEWIDTH)"},
    {"--height", "N", "IMAGEHEIGHT", "largest height of a sent photo in pixels, 1 or more (IMAGEHEIGHT)"},
    {"--mode", "MODE", "KIVType", "capture mode: DIGITAL, or EXPRESSPHOTOS (KIVType)"},
    {"--primary", nullptr, "Primary", "mark the photos as the vehicle's primary ones (Primary)"},
    {"--preferred", nullptr, "Prefered", "tell the web server about primary photos (Prefered)"},
};

#ifdef _WIN32
constexpr const char* kDefaultPropertiesPlace = "%APPDATA%\\kivPhotoUpload\\kivphoto.properties";
#else
constexpr const char* kDefaultPropertiesPlace = "~/.config/kivPhotoUpload/kivphoto.properties";
#endif

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

const char* const kTerminalDescription = R"(Sends a vehicle's photos from a local folder to the dealer's servers, without
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
Ctrl-C during an upload stops it after the photo being sent; a second Ctrl-C
quits at once (the photo in flight then stays in the folder).
)";

const char* const kDesktopDescription = R"(Shows a vehicle's photos from a local folder in a window, to tick and send to
the dealer's servers: each photo gets its number from the web server, is
reduced to the size limits, is put by FTP into the company's folder, and is
then deleted locally. FOLDER is the photo folder; without one (and without
--folder or a FullPath in the property file) the window asks for it.
Cancel, Escape or closing the window during an upload stops it after the
photo being sent.
)";

const char* const kCommonFooter = R"(The FTP password (KIVPassword) is taken from --password-file, the environment
variable KIV_FTP_PASSWORD or the property file; it is never printed.
The property file holds one 'NAME = value' per line: numbers bare, text in
double quotes (VIN = "WDB1234"); '#' starts a comment line. It is written
only with --save.

Exit status: 0 everything asked was sent; 1 some photo was not sent (it is
still in the folder); 2 the command line or a setting is wrong; 3 an error
ended the run.
)";

#ifdef _WIN32
const char* const kTerminalExample = R"(
Example (Command Prompt):
  set KIV_FTP_PASSWORD=secret
  kivphoto --folder C:\KIV_PHOTOS --vehicle 1395348 --company 12 ^
      --web http://dealer.example --ftp ftp.dealer.example ^
      --ftp-user dealer12 --width 640 --height 480 upload-all
)";
#else
const char* const kTerminalExample = R"(
Example:
  KIV_FTP_PASSWORD=secret kivphoto --folder ~/dock --vehicle 1395348 \
      --company 12 --web http://dealer.example --ftp ftp.dealer.example \
      --ftp-user dealer12 --width 640 --height 480 upload-all
)";
#endif

// Builds the parser; with storage, the values land there.
struct CommandLine {
  explicit CommandLine(Program program)
      : parser(program == Program::Terminal ? kTerminalDescription : kDesktopDescription,
                               program == Program::Terminal ? "kivphoto" : "kivphoto-desktop") {
    parser.get_formatter()->column_width(24);
    parser.set_help_flag();
    // CLI11 reads "/name" as an option on Windows; there, as on Linux, it is a path.
    parser.allow_windows_style_options(false);

    const char* settings = "Settings (each sets one property of the control)";
    properties = parser.add_option("--properties", propertiesFile)
                     ->type_name("FILE")
                     ->description("read the properties from FILE when it exists (default: " +
                                   std::string(kDefaultPropertiesPlace) + ")")
                     ->group(settings);
    save = parser.add_flag("--save")
               ->description("write the properties to FILE (readable by you only)")
               ->group(settings);
    for (const PropertyOption& entry : kPropertyOptions) {
      CLI::Option* option = entry.valueName
                                ? parser.add_option(entry.name)->type_name(entry.valueName)->allow_extra_args(false)
                                : parser.add_flag(entry.name);
      option->description(entry.help)->group(settings)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
      propertyOf[option] = &entry;
    }
    set = parser.add_option("--set")
              ->type_name("NAME=VALUE")
              ->description("set a property by its name in the property file (repeatable)")
              ->allow_extra_args(false)
              ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
              ->group(settings);
    passwordFile = parser.add_option("--password-file", passwordPath)
                       ->type_name("FILE")
                       ->description("read the FTP password from the first line of FILE")
                       ->group(settings);
    // Only to explain why it is refused.
    password = parser.add_option("--password")->group("");
    help = parser.add_flag("-h,--help")->description("show this help")->group("Other options");
    version = parser.add_flag("--version")->description("show the version")->group("Other options");
    quiet = parser.add_flag("-q,--quiet")->description("print no status lines")->group("Other options");

    if (program == Program::Terminal) {
      positional = parser.add_option("action", words)->group("");
      parser.footer(std::string(kCommonFooter) + kTerminalExample);
    } else {
      positional = parser.add_option("folder", words)->group("");
      parser.footer(kCommonFooter);
    }
  }

  CLI::App parser;
  CLI::Option* help;
  CLI::Option* version;
  CLI::Option* quiet;
  CLI::Option* properties;
  CLI::Option* save;
  CLI::Option* set;
  CLI::Option* passwordFile;
  CLI::Option* password;
  CLI::Option* positional;
  std::map<const CLI::Option*, const PropertyOption*> propertyOf;
  std::string propertiesFile;
  std::string passwordPath;
  std::vector<std::string> words;
};

void rejectFlagValues(const CLI::Option* option) {
  for (const std::string& result : option->results()) {
    if (result != "true") throw UsageError("option " + option->get_name() + " takes no value");
  }
}

// The action of the terminal program, or the folder of the desktop one.
void readWords(const std::vector<std::string>& words, Program program, Options& options) {
  if (words.empty()) return;
  if (program == Program::Desktop) {
    if (words.size() > 1) throw UsageError("give one photo folder (got '" + words[1] + "' too)");
    options.settings.emplace_back("FullPath", words[0]);
    return;
  }
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

Options parseOptions(Program program, const std::vector<std::string>& arguments) {
  CommandLine line(program);
  // CLI11 takes the arguments last to first.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    line.parser.parse(reversed);
  } catch (const CLI::ParseError& error) {
    throw UsageError(error.what());
  }

  Options options;
  for (const CLI::Option* flag : {line.help, line.version, line.quiet, line.save}) rejectFlagValues(flag);
  options.help = line.help->count() > 0;
  options.version = line.version->count() > 0;
  options.quiet = line.quiet->count() > 0;
  options.save = line.save->count() > 0;
  if (line.password->count() > 0) {
    throw UsageError(
        "the FTP password is not taken on the command line, where other users can see it: "
        "set KIV_FTP_PASSWORD or use --password-file FILE");
  }
  if (line.properties->count() > 0) options.propertiesFile = pathFromUtf8(line.propertiesFile);
  else options.propertiesFile = defaultPropertiesFile();
  if (line.passwordFile->count() > 0) options.passwordFile = pathFromUtf8(line.passwordPath);

  // Settings apply in the order given, whichever option gave them.
  std::map<const CLI::Option*, std::size_t> used;
  for (const CLI::Option* option : line.parser.parse_order()) {
    const std::size_t occurrence = used[option]++;
    if (option == line.set) {
      const std::string& setting = option->results().at(occurrence);
      const std::size_t equals = setting.find('=');
      if (equals == std::string::npos || equals == 0) {
        throw UsageError("--set needs NAME=VALUE, e.g. --set IMAGEWIDTH=640 (got '" + setting + "')");
      }
      options.settings.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
    } else if (auto found = line.propertyOf.find(option); found != line.propertyOf.end()) {
      const PropertyOption& entry = *found->second;
      if (!entry.valueName) rejectFlagValues(option);
      options.settings.emplace_back(entry.property, entry.valueName ? option->results().at(occurrence) : "True");
    } else if (option == line.positional && occurrence == 0) {
      readWords(line.words, program, options);
    }
  }
  if (options.save && !options.propertiesFile) {
    throw UsageError("--save needs --properties FILE to save to: " + std::string(kDefaultPropertiesPlace) +
                     " cannot be found from the environment");
  }
  return options;
}

std::optional<std::filesystem::path> defaultPropertiesFile() {
  std::filesystem::path base;
#ifdef _WIN32
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (appData != nullptr) base = appData;
#else
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (config != nullptr && std::filesystem::path(config).is_absolute()) base = config;
  else if (home != nullptr && *home != '\0') base = std::filesystem::path(home) / ".config";
#endif
  if (!base.is_absolute()) return std::nullopt;
  return base / "kivPhotoUpload" / "kivphoto.properties";
}

std::string helpText(Program program) {
  CommandLine line(program);
  CLI::Formatter formatter;
  formatter.column_width(24);
  std::string text = program == Program::Terminal ? "Usage: kivphoto [OPTIONS] [ACTION]\n\n"
                                                  : "Usage: kivphoto-desktop [OPTIONS] [FOLDER]\n\n";
  text += line.parser.get_description();
  text += formatter.make_groups(&line.parser, CLI::AppFormatMode::Normal);
  text += "\n" + line.parser.get_footer();
  return text;
}

}  // namespace kiv::app
