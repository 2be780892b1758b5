// kivphoto-desktop.exe: the photo-upload control in a window, hosted the way a
// dealer application hosts it: found through COM, set up through its property
// bag and IDispatch, activated in place, closed on its CloseApp event.
#include "container.hpp"
#include "options.hpp"
#include "process_guard.hpp"
#include "property_bag.hpp"
#include "property_file.hpp"
#include "settings.hpp"
#include "utf8_path.hpp"

#include <platform/host/error.hpp>
#include <platform/windows/com_ptr.hpp>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "kivPhotoUpload_idl.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace kiv;
using namespace kiv::win32;
using app::SettingError;

// The Upload class, as the control's IDL names it.
constexpr CLSID kUploadClass = __uuidof(::Upload);
// {29A2DE10-2331-45AD-A75A-1D2BDCBAE088}, its events
constexpr IID kUploadEvents = {0x29A2DE10, 0x2331, 0x45AD, {0xA7, 0x5A, 0x1D, 0x2B, 0xDC, 0xBA, 0xE0, 0x88}};
constexpr const wchar_t* kProgId = L"KIVPhotoUpload.Upload";
constexpr const wchar_t* kTitle = L"kivPhotoUpload";
constexpr const wchar_t* kWindowClass = L"KivPhotoDesktop";
// The control's surface, 10980 x 8340 twips, at 96 dpi; its own extent wins when it gives one.
constexpr int kDefaultWidth = 732;
constexpr int kDefaultHeight = 556;
constexpr int kStatusHeight = 24;
constexpr int kCloseId = 101;

enum Exit { AllSent = 0, SomeLeft = 1, Usage = 2, RunError = 3 };

template <typename T>
using Ref = winapi::ComPtr<T>;

// A window program has no console of its own: text goes to the handles it was
// given, or to the console of the program that started it.
void writeTo(DWORD which, const std::string& text) {
  static bool attached = false;
  HANDLE handle = GetStdHandle(which);
  if ((handle == nullptr || handle == INVALID_HANDLE_VALUE) && !attached) {
    attached = true;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) handle = GetStdHandle(which);
  }
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = widen(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void say(const std::string& text) { writeTo(STD_OUTPUT_HANDLE, text); }
void complain(const std::string& text) { writeTo(STD_ERROR_HANDLE, "kivphoto-desktop: " + text + "\n"); }

std::string hresultText(HRESULT hr) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = buffer != nullptr ? narrow(buffer) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  char code[16];
  wsprintfA(code, "0x%08lX", static_cast<unsigned long>(hr));
  return text.empty() ? std::string("error ") + code : text + " (" + code + ")";
}

// What the control said about its last failure, through IErrorInfo.
std::string errorText(HRESULT hr) {
  Ref<IErrorInfo> info;
  if (GetErrorInfo(0, info.out()) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) {
      std::string text = narrow(std::wstring_view(description, SysStringLen(description)));
      SysFreeString(description);
      if (!text.empty()) return text;
    }
  }
  return hresultText(hr);
}

std::string exceptionText(const EXCEPINFO& exception, HRESULT hr) {
  EXCEPINFO filled = exception;
  if (filled.pfnDeferredFillIn != nullptr) filled.pfnDeferredFillIn(&filled);
  std::string text = filled.bstrDescription != nullptr ? narrow(filled.bstrDescription) : std::string();
  SysFreeString(filled.bstrDescription);
  SysFreeString(filled.bstrSource);
  SysFreeString(filled.bstrHelpFile);
  return text.empty() ? hresultText(hr) : text;
}

class ComError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The control's properties by name, as a dealer application's script sets them.
class Properties {
 public:
  explicit Properties(IDispatch* control) : control_(control) {}

  // Throws SettingError with the control's own words.
  void put(const std::string& name, const std::wstring& value) {
    const DISPID id = idOf(name);
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    EXCEPINFO exception{};
    UINT wrong = 0;
    const HRESULT hr =
        control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &exception, &wrong);
    VariantClear(&argument);
    if (hr == DISP_E_EXCEPTION) throw SettingError(exceptionText(exception, hr));
    if (FAILED(hr)) throw SettingError(name + ": " + hresultText(hr));
  }

  VARIANT get(const std::string& name) {
    const DISPID id = idOf(name);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    const HRESULT hr =
        control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, &exception, nullptr);
    if (hr == DISP_E_EXCEPTION) throw ComError(name + ": " + exceptionText(exception, hr));
    if (FAILED(hr)) throw ComError(name + ": " + hresultText(hr));
    return result;
  }

  std::wstring text(const std::string& name) {
    VARIANT value = get(name);
    VARIANT converted;
    VariantInit(&converted);
    std::wstring out;
    if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_BSTR)) && converted.bstrVal != nullptr)
      out.assign(converted.bstrVal, SysStringLen(converted.bstrVal));
    VariantClear(&converted);
    VariantClear(&value);
    return out;
  }

  long number(const std::string& name) {
    VARIANT value = get(name);
    VARIANT converted;
    VariantInit(&converted);
    long out = 0;
    if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_I4))) out = converted.lVal;
    VariantClear(&converted);
    VariantClear(&value);
    return out;
  }

  // sFiles: the photos of the last scan, one empty entry when there were none.
  std::vector<std::wstring> list(const std::string& name) {
    VARIANT value = get(name);
    std::vector<std::wstring> out;
    if ((value.vt & VT_ARRAY) != 0 && value.parray != nullptr && SafeArrayGetDim(value.parray) == 1) {
      LONG low = 0, high = -1;
      SafeArrayGetLBound(value.parray, 1, &low);
      SafeArrayGetUBound(value.parray, 1, &high);
      for (LONG i = low; i <= high; ++i) {
        VARIANT item;
        VariantInit(&item);
        if ((value.vt & VT_TYPEMASK) == VT_BSTR) {
          BSTR entry = nullptr;
          if (SUCCEEDED(SafeArrayGetElement(value.parray, &i, &entry))) {
            item.vt = VT_BSTR;
            item.bstrVal = entry;
          }
        } else if ((value.vt & VT_TYPEMASK) == VT_VARIANT) {
          VARIANT stored;
          VariantInit(&stored);
          if (SUCCEEDED(SafeArrayGetElement(value.parray, &i, &stored))) VariantChangeType(&item, &stored, 0, VT_BSTR);
          VariantClear(&stored);
        }
        if (item.vt == VT_BSTR && item.bstrVal != nullptr && SysStringLen(item.bstrVal) > 0)
          out.emplace_back(item.bstrVal, SysStringLen(item.bstrVal));
        VariantClear(&item);
      }
    }
    VariantClear(&value);
    return out;
  }

 private:
  DISPID idOf(const std::string& name) {
    std::wstring wide = widen(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
      throw SettingError(name + ": the control has no such property");
    return id;
  }

  IDispatch* control_;
};

std::optional<std::wstring> environmentVariable(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::wstring readPasswordFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw SettingError("cannot read the password file " + app::utf8Of(file));
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return widen(line);
}

bool sameName(const std::string& a, const std::string& b) {
  return CompareStringOrdinal(widen(a).c_str(), -1, widen(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool setOnCommandLine(const app::Options& options, const std::string& property) {
  for (const auto& setting : options.settings) {
    if (sameName(setting.first, property)) return true;
  }
  return false;
}

std::string fileOrigin(const std::filesystem::path& file, int line) {
  std::string origin = "property file " + app::utf8Of(file);
  if (line > 0) origin += ", line " + std::to_string(line);
  return origin + ": ";
}

// The same order as the other hosts: property file (or InitNew), the
// environment's password, the command line, the password file; sizes below
// one pixel refused.
app::AppliedSettings applySettings(IUnknown* control, Properties& properties, const app::Options& options) {
  app::AppliedSettings applied;
  Ref<IPersistPropertyBag> persist;
  HRESULT hr = control->QueryInterface(IID_IPersistPropertyBag, persist.outVoid());
  if (FAILED(hr)) throw ComError("the control cannot be loaded from a property bag: " + hresultText(hr));

  app::FilePropertyBag bag;
  std::optional<std::filesystem::path> file;
  std::error_code missing;
  if (options.propertiesFile && std::filesystem::exists(*options.propertiesFile, missing)) {
    file = *options.propertiesFile;
    try {
      bag = app::FilePropertyBag::load(*file);
    } catch (const Error& error) {
      throw SettingError(error.what());
    }
    FileBag site(bag);
    hr = persist->Load(&site, nullptr);
    if (FAILED(hr)) throw SettingError(fileOrigin(*file, bag.lineOf(site.lastRead())) + errorText(hr));
  } else {
    hr = persist->InitNew();
    if (FAILED(hr)) throw ComError("the control could not start from its defaults: " + errorText(hr));
  }

  const std::optional<std::wstring> environmentPassword = environmentVariable(L"KIV_FTP_PASSWORD");
  if (environmentPassword) properties.put("KIVPassword", *environmentPassword);
  for (const auto& [name, value] : options.settings) {
    if (sameName(name, "KIVPassword")) {
      applied.warnings.emplace_back(
          "a password on the command line can be seen by other users; prefer KIV_FTP_PASSWORD or --password-file");
    }
    try {
      properties.put(name, widen(value));
    } catch (const SettingError& error) {
      throw SettingError(std::string("command line: ") + error.what());
    }
  }
  if (options.passwordFile) properties.put("KIVPassword", readPasswordFile(*options.passwordFile));

  for (const char* property : {"IMAGEWIDTH", "IMAGEHEIGHT"}) {
    const long value = properties.number(property);
    if (value >= 1) continue;
    const std::string origin = setOnCommandLine(options, property) ? std::string("command line: ")
                               : file ? fileOrigin(*file, bag.lineOf(property))
                                      : std::string();
    throw SettingError(origin + property + ": a photo size must be 1 pixel or more (got " + std::to_string(value) +
                       ")");
  }

  applied.defaultPassword = !environmentPassword && !options.passwordFile && !bag.contains("KIVPassword") &&
                            !setOnCommandLine(options, "KIVPassword");
  applied.folderGiven = bag.contains("FullPath") || setOnCommandLine(options, "FullPath");
  return applied;
}

void saveProperties(IUnknown* control, const std::filesystem::path& file) {
  Ref<IPersistPropertyBag> persist;
  HRESULT hr = control->QueryInterface(IID_IPersistPropertyBag, persist.outVoid());
  if (FAILED(hr)) throw ComError("the control cannot be saved to a property bag: " + hresultText(hr));
  app::FilePropertyBag bag;
  try {
    std::error_code missing;
    if (std::filesystem::exists(file, missing)) bag = app::FilePropertyBag::load(file);
    FileBag site(bag);
    hr = persist->Save(&site, TRUE, TRUE);
    if (FAILED(hr)) throw SettingError(app::utf8Of(file) + ": " + errorText(hr));
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    bag.save(file);
  } catch (const Error& error) {
    throw SettingError(error.what());
  } catch (const std::filesystem::filesystem_error& error) {
    throw SettingError(error.what());
  }
}

// The registered class first; Wine looks classes up under HKLM only, so a
// per-user registration is missed there and the DLL beside the program serves.
HRESULT createControl(IUnknown** control) {
  CLSID clsid = kUploadClass;
  CLSIDFromProgID(kProgId, &clsid);
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(control));
  if (SUCCEEDED(hr)) return hr;

  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"kivPhotoUpload.dll";
  HMODULE library = LoadLibraryW(path.c_str());
  if (library == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto entry = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  if (entry == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  Ref<IClassFactory> factory;
  hr = entry(kUploadClass, IID_IClassFactory, factory.outVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(control));
}

std::optional<std::wstring> chooseFolder(HWND owner, const std::wstring& start) {
  Ref<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                 dialog.outVoid()))) {
    FILEOPENDIALOGOPTIONS flags = 0;
    dialog->GetOptions(&flags);
    dialog->SetOptions(flags | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(L"Choose the photo folder");
    if (!start.empty()) {
      Ref<IShellItem> folder;
      if (SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem, folder.outVoid())))
        dialog->SetFolder(folder.get());
    }
    if (FAILED(dialog->Show(owner))) return std::nullopt;
    Ref<IShellItem> chosen;
    if (FAILED(dialog->GetResult(chosen.out()))) return std::nullopt;
    wchar_t* path = nullptr;
    if (FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) return std::nullopt;
    std::wstring out(path);
    CoTaskMemFree(path);
    return out;
  }
  BROWSEINFOW browse{};
  browse.hwndOwner = owner;
  browse.lpszTitle = L"Choose the photo folder";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
  if (item == nullptr) return std::nullopt;
  wchar_t path[MAX_PATH] = {};
  const BOOL ok = SHGetPathFromIDListW(item, path);
  CoTaskMemFree(item);
  if (!ok) return std::nullopt;
  return std::wstring(path);
}

class Program {
 public:
  explicit Program(app::Options options) : options_(std::move(options)) {}

  int run(HINSTANCE instance);

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT handle(UINT message, WPARAM w, LPARAM l);
  void start();
  void activate();
  void layout();
  void setStatus(const std::wstring& text) { SetWindowTextW(status_, text.c_str()); }
  void fail(Exit status, const std::string& text);
  void describeJob();
  void noteOutcome();
  void shutDown();

  app::Options options_;
  app::AppliedSettings applied_;
  HWND window_ = nullptr;
  HWND status_ = nullptr;
  HWND close_ = nullptr;
  Container site_;
  std::optional<EventSink> sink_;
  Ref<IUnknown> control_;
  Ref<IDispatch> dispatch_;
  Ref<IOleObject> object_;
  Ref<IOleInPlaceObject> inPlace_;
  DWORD cookie_ = 0;
  Ref<IConnectionPoint> point_;
  std::optional<Exit> failed_;
  int exit_ = AllSent;
  SIZE surface_{kDefaultWidth, kDefaultHeight};
};

int Program::run(HINSTANCE instance) {
  WNDCLASSEXW type{};
  type.cbSize = sizeof type;
  type.lpfnWndProc = &Program::windowProcedure;
  type.hInstance = instance;
  type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  type.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = kWindowClass;
  RegisterClassExW(&type);

  const DWORD style = WS_OVERLAPPEDWINDOW & ~(WS_MAXIMIZEBOX | WS_THICKFRAME);
  RECT frame{0, 0, surface_.cx, surface_.cy + kStatusHeight};
  AdjustWindowRect(&frame, style, FALSE);
  window_ = CreateWindowExW(0, kWindowClass, kTitle, style | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (window_ == nullptr) {
    complain("cannot create the window: " + hresultText(HRESULT_FROM_WIN32(GetLastError())));
    return RunError;
  }
  site_.attach(window_);
  site_.statusText = [this](const std::wstring& text) { setStatus(text); };
  status_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_CENTERIMAGE, 0, 0, 0, 0,
                            window_, nullptr, instance, nullptr);
  close_ = CreateWindowExW(0, L"BUTTON", L"Close", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCloseId)), instance, nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageW(status_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(close_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  layout();

  start();
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  if (!failed_) activate();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (failed_ && message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
      PostMessageW(window_, WM_CLOSE, 0, 0);
      continue;
    }
    // Keys belong to the active control first: its own Escape and Tab handling.
    if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST && site_.activeObject() != nullptr &&
        site_.activeObject()->TranslateAccelerator(&message) == S_OK)
      continue;
    if (failed_ && IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return failed_ ? *failed_ : exit_;
}

// Settings are applied before anything is shown: with a damaged one the
// control is never activated and the property file stays as it is.
void Program::start() {
  HRESULT hr = createControl(control_.out());
  if (FAILED(hr)) {
    fail(RunError, "cannot create the kivPhotoUpload control (" + narrow(kProgId) + "): " + hresultText(hr));
    return;
  }
  hr = control_->QueryInterface(IID_IDispatch, dispatch_.outVoid());
  if (FAILED(hr)) {
    fail(RunError, "the control has no IDispatch: " + hresultText(hr));
    return;
  }
  Properties properties(dispatch_.get());
  try {
    applied_ = applySettings(control_.get(), properties, options_);
    if (options_.save) saveProperties(control_.get(), *options_.propertiesFile);
  } catch (const SettingError& error) {
    fail(Usage, error.what());
    return;
  } catch (const ComError& error) {
    fail(RunError, error.what());
    return;
  }
  for (const std::string& warning : applied_.warnings) complain("warning: " + warning);
  if (applied_.defaultPassword) complain(std::string("warning: ") + app::DefaultPasswordWarning);
  describeJob();
}

void Program::describeJob() {
  Properties properties(dispatch_.get());
  try {
    const std::wstring vehicle = properties.text("VehicleID");
    const std::wstring folder = properties.text("FullPath");
    const std::wstring server = properties.text("KIVFTP");
    SetWindowTextW(window_, (std::wstring(kTitle) + L" - vehicle " + vehicle + L" - " + folder + L" - " + server).c_str());
    if (applied_.defaultPassword) setStatus(L"No FTP password is set: the built-in default password will be used.");
    else setStatus(L"Vehicle " + vehicle + L", photos from " + folder + L", to " + server);
  } catch (const ComError& error) {
    setStatus(widen(error.what()));
  }
}

void Program::activate() {
  Properties properties(dispatch_.get());
  const std::wstring folder = properties.text("FullPath");
  std::error_code ignored;
  if (!applied_.folderGiven || !std::filesystem::is_directory(std::filesystem::path(folder), ignored)) {
    std::wstring begin;
    if (applied_.folderGiven) {
      setStatus(L"The photo folder " + folder + L" does not exist.");
      begin = std::filesystem::path(folder).parent_path().wstring();
    }
    const std::optional<std::wstring> chosen = chooseFolder(window_, begin);
    if (!chosen) {
      PostMessageW(window_, WM_CLOSE, 0, 0);
      return;
    }
    try {
      properties.put("FullPath", *chosen);
    } catch (const SettingError& error) {
      fail(Usage, error.what());
      return;
    }
    describeJob();
  }

  HRESULT hr = control_->QueryInterface(IID_IOleObject, object_.outVoid());
  if (FAILED(hr)) {
    fail(RunError,
         "this kivPhotoUpload.dll cannot be shown in a window: it has no visual OLE interface (IOleObject): " +
             hresultText(hr));
    return;
  }
  SIZEL extent{};
  if (SUCCEEDED(object_->GetExtent(DVASPECT_CONTENT, &extent)) && extent.cx > 0 && extent.cy > 0) {
    HDC screen = GetDC(nullptr);
    surface_.cx = MulDiv(extent.cx, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    surface_.cy = MulDiv(extent.cy, GetDeviceCaps(screen, LOGPIXELSY), 2540);
    ReleaseDC(nullptr, screen);
    RECT frame{0, 0, surface_.cx, surface_.cy + kStatusHeight};
    AdjustWindowRect(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  layout();

  Ref<IConnectionPointContainer> points;
  if (SUCCEEDED(control_->QueryInterface(IID_IConnectionPointContainer, points.outVoid())) &&
      SUCCEEDED(points->FindConnectionPoint(kUploadEvents, point_.out()))) {
    sink_.emplace(kUploadEvents, window_);
    hr = point_->Advise(&*sink_, &cookie_);
    if (FAILED(hr)) cookie_ = 0;
  }
  if (cookie_ == 0) complain("warning: the control's CloseApp event cannot be received; close the window when done");

  hr = object_->SetClientSite(&site_);
  if (SUCCEEDED(hr)) {
    RECT place = site_.place();
    hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, window_, &place);
  }
  if (FAILED(hr)) {
    fail(RunError, "the control could not be activated in the window: " + errorText(hr));
    return;
  }
  control_->QueryInterface(IID_IOleInPlaceObject, inPlace_.outVoid());
  if (inPlace_) {
    RECT place = site_.place();
    inPlace_->SetObjectRects(&place, &place);
  }
}

void Program::layout() {
  if (window_ == nullptr) return;
  RECT client{};
  GetClientRect(window_, &client);
  const int statusTop = client.bottom - kStatusHeight > 0 ? client.bottom - kStatusHeight : 0;
  site_.setPlace(RECT{0, 0, client.right, statusTop});
  const bool closing = failed_.has_value();
  const int buttonWidth = closing ? 80 : 0;
  if (status_ != nullptr) MoveWindow(status_, 6, statusTop, client.right - 8 - buttonWidth, kStatusHeight, TRUE);
  if (close_ != nullptr) MoveWindow(close_, client.right - buttonWidth - 2, statusTop + 1, buttonWidth, kStatusHeight - 2, TRUE);
  if (inPlace_) {
    RECT place = site_.place();
    inPlace_->SetObjectRects(&place, &place);
  }
}

void Program::fail(Exit status, const std::string& text) {
  failed_ = status;
  complain(text);
  setStatus(widen(text));
  ShowWindow(close_, SW_SHOW);
  layout();
  SetFocus(close_);
}

// The photos the control listed and was asked to send are those still in
// sFiles; a photo sent is deleted from the folder. The COM interface does not
// tell which command ran, so an upload counts as asked once any listed photo
// is gone, or always in the express mode, which sends at once.
void Program::noteOutcome() {
  if (failed_ || !dispatch_) return;
  try {
    Properties properties(dispatch_.get());
    const std::vector<std::wstring> listed = properties.list("sFiles");
    const bool express = CompareStringOrdinal(properties.text("KIVType").c_str(), -1, L"EXPRESSPHOTOS", -1, TRUE) == CSTR_EQUAL;
    std::size_t left = 0;
    for (const std::wstring& file : listed) {
      std::error_code ignored;
      if (std::filesystem::exists(std::filesystem::path(file), ignored)) ++left;
    }
    const bool asked = express || left < listed.size();
    exit_ = asked && left > 0 ? SomeLeft : AllSent;
    if (asked && left > 0) complain(std::to_string(left) + " of " + std::to_string(listed.size()) + " photos were not sent");
  } catch (const std::exception& error) {
    complain(error.what());
    exit_ = RunError;
  }
}

void Program::shutDown() {
  if (point_ && cookie_ != 0) point_->Unadvise(cookie_);
  cookie_ = 0;
  point_.reset();
  inPlace_.reset();
  if (object_) {
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
  }
  object_.reset();
  dispatch_.reset();
  control_.reset();
}

LRESULT CALLBACK Program::windowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* program = static_cast<Program*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(program));
    program->window_ = window;
  }
  auto* program = reinterpret_cast<Program*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (program == nullptr) return DefWindowProcW(window, message, w, l);
  return program->handle(message, w, l);
}

LRESULT Program::handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SIZE: layout(); return 0;
    case WM_COMMAND:
      if (LOWORD(w) == kCloseId) PostMessageW(window_, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      noteOutcome();
      shutDown();
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window_, message, w, l);
  }
}

std::vector<std::string> arguments() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  for (int i = 1; i < count; ++i) out.push_back(narrow(words[i]));
  LocalFree(words);
  return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  app::keepSecretsOutOfCoreFiles();
  app::Options options;
  try {
    options = app::parseOptions(app::Program::Desktop, arguments());
  } catch (const app::UsageError& error) {
    writeTo(STD_ERROR_HANDLE,
            std::string("kivphoto-desktop: ") + error.what() + "\nTry 'kivphoto-desktop --help'.\n");
    return Usage;
  }
  if (options.help) {
    say(app::helpText(app::Program::Desktop));
    return AllSent;
  }
  if (options.version) {
    say(std::string("kivphoto-desktop ") + KIV_VERSION + "\n");
    return AllSent;
  }
  if (FAILED(OleInitialize(nullptr))) {
    complain("cannot start OLE");
    return RunError;
  }
  int status = RunError;
  {
    Program program(std::move(options));
    status = program.run(instance);
  }
  OleUninitialize();
  return status;
}
