// kivphoto-desktop.exe: the photo-upload control in a window, hosted the way a
// dealer application hosts it: found through COM, set up through its property
// bag and IDispatch, activated in place, closed on its CloseApp event.
#include "container.hpp"
#include "control_client.hpp"
#include "options.hpp"
#include "process_guard.hpp"
#include "property_bag.hpp"
#include "property_file.hpp"
#include "run_record.hpp"
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

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace kiv;
using namespace kiv::win32;
using app::SettingError;

// The Upload class and its events, as the control's IDL names them.
constexpr CLSID kUploadClass = __uuidof(::Upload);
constexpr IID kUploadEvents = __uuidof(::__Upload);
constexpr const wchar_t* kProgId = L"KIVPhotoUpload.Upload";
constexpr const wchar_t* kTitle = L"kivPhotoUpload";
constexpr const wchar_t* kWindowClass = L"KivPhotoDesktop";
// The control's surface, 10980 x 8340 twips, at 96 dpi; its own extent wins when it gives one.
constexpr int kDefaultWidth = 732;
constexpr int kDefaultHeight = 556;
constexpr int kStatusHeight = 24;
constexpr int kCloseId = 101;
constexpr const wchar_t* kTickFirst = L"Tick the photos to send first.";

enum Exit { AllSent = 0, SomeLeft = 1, Usage = 2, RunError = 3 };

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
  winapi::ComPtr<IClassFactory> factory;
  hr = entry(kUploadClass, IID_IClassFactory, factory.outVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(control));
}

std::optional<std::wstring> chooseFolder(HWND owner, const std::wstring& start) {
  winapi::ComPtr<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                 dialog.outVoid()))) {
    FILEOPENDIALOGOPTIONS flags = 0;
    dialog->GetOptions(&flags);
    dialog->SetOptions(flags | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(L"Choose the photo folder");
    if (!start.empty()) {
      winapi::ComPtr<IShellItem> folder;
      if (SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem, folder.outVoid())))
        dialog->SetFolder(folder.get());
    }
    if (FAILED(dialog->Show(owner))) return std::nullopt;
    winapi::ComPtr<IShellItem> chosen;
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
  void closeApp();
  void noteOutcome();
  void reportRun(const std::set<std::wstring>& asked, Properties& properties);
  void shutDown();

  app::Options options_;
  app::AppliedSettings applied_;
  HWND window_ = nullptr;
  HWND status_ = nullptr;
  HWND close_ = nullptr;
  Container site_;
  std::optional<EventSink> sink_;
  winapi::ComPtr<IUnknown> control_;
  winapi::ComPtr<IDispatch> dispatch_;
  winapi::ComPtr<IOleObject> object_;
  winapi::ComPtr<IOleInPlaceObject> inPlace_;
  DWORD cookie_ = 0;
  winapi::ComPtr<IConnectionPoint> point_;
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
  ControlSettings settings(control_.get(), dispatch_.get());
  try {
    applied_ = app::applySettings(settings, options_);
    if (options_.save) app::saveProperties(settings, *options_.propertiesFile);
  } catch (const SettingError& error) {
    fail(Usage, error.what());
    return;
  } catch (const ComError& error) {
    fail(RunError, error.what());
    return;
  }
  for (const std::string& warning : applied_.warnings) complain("warning: " + warning);
  if (!applied_.missing.empty()) {
    fail(Usage, app::missingSettingsText(applied_));
    return;
  }
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

  winapi::ComPtr<IConnectionPointContainer> points;
  if (SUCCEEDED(control_->QueryInterface(IID_IConnectionPointContainer, points.outVoid())) &&
      SUCCEEDED(points->FindConnectionPoint(kUploadEvents, point_.out()))) {
    sink_.emplace(kUploadEvents, [this] { closeApp(); });
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

// The control closes itself also after Upload Selected with nothing ticked,
// where it sent nothing; the window stays for the user to tick some.
// Posted, not closed here: the control is still inside the command that
// raised the event.
void Program::closeApp() {
  if (site_.takeAskedNothing()) {
    setStatus(kTickFirst);
    return;
  }
  PostMessageW(window_, WM_CLOSE, 0, 0);
}

// Measured against the photos asked for: those the control reported before
// each command, or every listed one in the express mode, which sends them as
// it is shown. A command that failed outright is a run error, as in the Linux
// window.
void Program::noteOutcome() {
  if (failed_ || !dispatch_) return;
  if (site_.commandFailed()) {
    exit_ = RunError;
    return;
  }
  try {
    std::set<std::wstring> asked = site_.asked();
    Properties properties(dispatch_.get());
    if (CompareStringOrdinal(properties.text("KIVType").c_str(), -1, L"EXPRESSPHOTOS", -1, TRUE) == CSTR_EQUAL) {
      const std::vector<std::wstring> listed = properties.list("sFiles");
      asked.insert(listed.begin(), listed.end());
    }
    const std::size_t left = static_cast<std::size_t>(std::count_if(
        asked.begin(), asked.end(), [&](const std::wstring& file) { return site_.sent().count(file) == 0; }));
    exit_ = left > 0 ? SomeLeft : AllSent;
    if (left > 0) complain(std::to_string(left) + " of " + std::to_string(asked.size()) + " photos were not sent");
    if (!asked.empty()) reportRun(asked, properties);
  } catch (const std::exception& error) {
    complain(error.what());
    exit_ = RunError;
  }
}

// As the Linux window does once it closes: kivphoto's summary on standard
// output, and the last run's log for a support call.
void Program::reportRun(const std::set<std::wstring>& asked, Properties& properties) {
  app::RunRecord run;
  for (const std::wstring& file : asked) run.asked.push_back(narrow(file));
  for (const std::wstring& file : properties.list("sFiles")) run.listed.push_back(narrow(file));
  for (const std::wstring& file : site_.sent()) run.sent.insert(narrow(file));
  for (const auto& [file, reason] : site_.kept()) run.reasons[narrow(file)] = narrow(reason);
  say(run.summary() + "\n");
  const std::vector<std::string> job = {
      "Vehicle " + narrow(properties.text("VehicleID")) + ", company " + narrow(properties.text("CompanyID")),
      "Photos from " + narrow(properties.text("FullPath")),
      "Web server " + app::withoutCredentials(narrow(properties.text("KIVWEB"))) + ", FTP server " +
          narrow(properties.text("KIVFTP")) + " as " + narrow(properties.text("KIVUser"))};
  if (const auto trouble = app::writeLastRunLog(run, "kivphoto-desktop", job)) complain(*trouble);
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
