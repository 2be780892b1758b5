#include "property_file.hpp"

#include "utf8_path.hpp"

#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kiv::app {

using host::Variant;

namespace {

bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

std::string quoted(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

class Parser {
 public:
  Parser(std::string_view text, const std::string& origin) : text_(text), origin_(origin) {}

  void into(FilePropertyBag& bag) {
    std::size_t start = 0;
    while (start <= text_.size()) {
      std::size_t end = text_.find('\n', start);
      if (end == std::string_view::npos) end = text_.size();
      ++line_;
      parseLine(text_.substr(start, end - start), bag);
      start = end + 1;
    }
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw Error(errc::BadFileNameOrNumber, origin_ + ":" + std::to_string(line_) + ": " + what);
  }

  void parseLine(std::string_view line, FilePropertyBag& bag) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t i = 0;
    auto skipBlanks = [&] { while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i; };
    skipBlanks();
    if (i == line.size() || line[i] == '#') return;
    const std::size_t nameStart = i;
    while (i < line.size() && isNameChar(line[i])) ++i;
    if (i == nameStart) fail("expected a property name");
    const std::string name(line.substr(nameStart, i - nameStart));
    skipBlanks();
    if (i == line.size() || line[i] != '=') fail("expected '=' after " + name);
    ++i;
    skipBlanks();
    Variant value;
    if (i < line.size() && line[i] == '"') {
      value = Variant(unquote(line, i));
    } else {
      const std::size_t valueStart = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
      const std::string_view bare = line.substr(valueStart, i - valueStart);
      if (bare.empty()) fail("missing value for " + name);
      try {
        const double number = host::parseNumber(bare);
        if (number >= -2147483648.0 && number <= 2147483647.0 && number == static_cast<std::int32_t>(number)) {
          value = Variant(static_cast<std::int32_t>(number));
        } else {
          value = Variant(number);
        }
      } catch (const Error&) {
        fail("the value of " + name + " must be a number or text in double quotes, e.g. " + name + " = \"" +
             std::string(bare) + "\"");
      }
    }
    skipBlanks();
    if (i != line.size() && line[i] != '#') fail("unexpected text after the value of " + name);
    bag.setFromLine(name, std::move(value), line_);
  }

  std::string unquote(std::string_view line, std::size_t& i) {
    std::string out;
    ++i;  // opening quote
    while (i < line.size() && line[i] != '"') {
      char c = line[i++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i == line.size()) break;
      c = line[i++];
      switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case 'x': {
          if (i + 2 > line.size()) fail("incomplete \\x escape");
          unsigned value = 0;
          for (int k = 0; k < 2; ++k) {
            const char h = line[i++];
            value <<= 4;
            if (h >= '0' && h <= '9') value |= h - '0';
            else if (h >= 'a' && h <= 'f') value |= h - 'a' + 10;
            else if (h >= 'A' && h <= 'F') value |= h - 'A' + 10;
            else fail("bad \\x escape");
          }
          out += static_cast<char>(value);
          break;
        }
        default: fail(std::string("unknown escape \\") + c);
      }
    }
    if (i == line.size()) fail("text without its closing quote");
    ++i;  // closing quote
    return out;
  }

  std::string_view text_;
  const std::string& origin_;
  int line_ = 0;
};

[[noreturn]] void ioError(const std::filesystem::path& file, const std::string& what, int error) {
  // A file missing from its folder is 53; a folder missing on the way, 76.
  std::error_code ignored;
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  const PathKind kind = std::filesystem::is_directory(folder, ignored) ? PathKind::File : PathKind::Folder;
  throw Error(systemErrorNumber(error, kind), "Cannot " + what + " " + utf8Of(file) + ": " + std::strerror(error));
}

}  // namespace

FilePropertyBag FilePropertyBag::parse(std::string_view text, const std::string& origin) {
  FilePropertyBag bag;
  Parser(text, origin).into(bag);
  return bag;
}

FilePropertyBag FilePropertyBag::load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) ioError(file, "read the property file", errno);
  std::ostringstream content;
  content << in.rdbuf();
  return parse(content.str(), utf8Of(file));
}

int FilePropertyBag::lineOf(std::string_view name) const {
  auto found = lines_.find(name);
  return found == lines_.end() ? 0 : found->second;
}

void FilePropertyBag::setFromLine(std::string_view name, Variant value, int line) {
  set(name, std::move(value));
  lines_[std::string(name)] = line;
}

std::string FilePropertyBag::text() const {
  std::string out = "# kivPhotoUpload properties\n";
  auto emit = [&](const std::string& name, const Variant& value) {
    const bool number = value.kind() == Variant::Kind::Int16 || value.kind() == Variant::Kind::Int32 ||
                        value.kind() == Variant::Kind::Double;
    out += name + " = " + (number ? value.toString() : quoted(value.toString())) + "\n";
  };
  // Keys written in this session first, in their order; then anything else read.
  std::map<std::string, bool, std::less<>> done;
  for (const auto& name : writeOrder_) {
    if (done.emplace(name, true).second) emit(name, values_.find(name)->second);
  }
  for (const auto& [name, value] : values_) {
    if (!done.count(name)) emit(name, value);
  }
  return out;
}

// Holds the FTP password: readable by its owner only, and never written into a
// file someone else prepared. Windows has no mode bits: the file takes its
// folder's access list, which in the user's profile (%APPDATA%, the usual
// place) already shuts other users out.
void FilePropertyBag::save(const std::filesystem::path& file) const {
  fs::ReplaceFileAtomically(utf8Of(file), text(), 0600);
}

}  // namespace kiv::app
