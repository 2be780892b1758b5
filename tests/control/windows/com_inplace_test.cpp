// The built DLL hosted the way a Windows container hosts a control: sited in
// a small OLE container of the test's own, in-place activated in a real
// window, clicked through window messages, and photographed.
#include <control/upload.hpp>
#include <control/windows/gdi_surface.hpp>
#include <control/kivphotoupload.h>
#include <control/typelib.hpp>
#include <platform/windows/com_ptr.hpp>

#include "support/dealer_servers.hpp"
#include "support/photos.hpp"
#include "support/recording_site.hpp"
#include "support/temp_dir.hpp"
#include "support/windows/canvas.hpp"
#include "support/windows/close_app_sink.hpp"

#include "kivPhotoUpload_idl.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
#include <wincodec.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kiv {
namespace {

using test::Canvas;
using test::Sink;
using test::savePng;

std::wstring wide(std::string_view text) { return std::filesystem::path(std::string(text)).wstring(); }

using kiv::winapi::ComPtr;


// The container: a client site with in-place support, its own window as
// frame and document.
class Container final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  explicit Container(HWND window, RECT position) : window_(window), position_(position) {}
  ~Container() { active.reset(); }

  int inPlaceActivations = 0;
  int uiActivations = 0;
  int inPlaceDeactivations = 0;
  ComPtr<IOleInPlaceActiveObject> active;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IOleClientSite)))
      *object = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(iid, __uuidof(IOleWindow)) || IsEqualIID(iid, __uuidof(IOleInPlaceSite)))
      *object = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(iid, __uuidof(IOleInPlaceUIWindow)) || IsEqualIID(iid, __uuidof(IOleInPlaceFrame)))
      *object = static_cast<IOleInPlaceFrame*>(this);
    else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    *moniker = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = window_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
    ++inPlaceActivations;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override {
    ++uiActivations;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frame = this;
    AddRef();
    *document = nullptr;
    *position = position_;
    *clip = position_;
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
    ++inPlaceDeactivations;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
    active = ComPtr<IOleInPlaceActiveObject>(object);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  ULONG refs = 0;

 private:
  HWND window_;
  RECT position_;
};

// A message box would wait for a person: the test answers any that comes up
// and counts it.
std::vector<std::wstring> g_messageBoxes;

BOOL CALLBACK answerDialog(HWND window, LPARAM) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
    wchar_t text[512] = {};
    HWND prompt = GetDlgItem(window, 0xFFFF);
    if (prompt != nullptr) GetWindowTextW(prompt, text, 512);
    g_messageBoxes.emplace_back(text);
    PostMessageW(window, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

void CALLBACK watchForDialogs(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), answerDialog, 0);
}

void pumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

POINT centreOf(const RECT& rect) { return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

void click(HWND window, POINT at) {
  const LPARAM where = MAKELPARAM(at.x, at.y);
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
  SendMessageW(window, WM_LBUTTONUP, 0, where);
}

HRESULT put(IDispatch* control, const wchar_t* name, const std::wstring& text) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = control->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  VARIANT value;
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(text.c_str());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  hr = control->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  VariantClear(&value);
  return hr;
}

// What the control shows, drawn through its view object.
void drawView(IViewObject2* view, const Canvas& canvas) {
  RECT all{0, 0, canvas.width(), canvas.height()};
  FillRect(canvas.dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  RECTL bounds{0, 0, canvas.width(), canvas.height()};
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc(), &bounds, nullptr, nullptr, 0),
            S_OK);
}

bool sameView(IViewObject2* view, const Upload& model, int width, int height) {
  Canvas hosted(width, height), expected(width, height);
  drawView(view, hosted);
  gdi::drawSurface(model, expected.dc(), RECT{0, 0, width, height});
  GdiFlush();
  return std::memcmp(hosted.bits(), expected.bits(), static_cast<std::size_t>(width) * height * 4) == 0;
}

// The control sited in a container window and in-place active over a folder
// of photos, beside a model of the same surface that tells where things are.
struct ComInPlace : ::testing::Test {
  test::DealerServers servers;
  test::TempDir photos;
  test::RecordingSite modelSite;
  Upload model{modelSite};
  host::Variant::Array listed;
  int width = 0, height = 0;
  RECT position{};
  RECT client{};
  HWND frameWindow = nullptr;
  HWND window = nullptr;
  UINT_PTR watch = 0;
  HMODULE module = nullptr;
  Sink sink;
  std::unique_ptr<Container> container;
  ComPtr<IOleObject> object;
  ComPtr<IViewObject2> view;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;

  void SetUp() override { ASSERT_EQ(OleInitialize(nullptr), S_OK); }

  void host(int count) {
    servers.reset();
    for (int i = 1; i <= count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
      // The second photo stands on its head: its picture differs from the first's.
      test::writeJpeg(photos / name, 640, 480, i == 2 ? 3 : 1);
    }
    model.Initialize();
    model.InitProperties();
    model.FullPath(photos.path().string());
    model.Show();
    listed = model.sFiles.array();
    ASSERT_EQ(listed.size(), static_cast<std::size_t>(count));
    width = static_cast<int>(model.surface().Width / host::scale::TwipsPerPixel);
    height = static_cast<int>(model.surface().Height / host::scale::TwipsPerPixel);
    position = RECT{10, 10, 10 + width, 10 + height};

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = L"KivTestContainer";
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
    frameWindow = CreateWindowExW(0, L"KivTestContainer", L"kivPhotoUpload container",
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, width + 60, height + 80,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(frameWindow, nullptr);
    watch = SetTimer(nullptr, 0, 200, watchForDialogs);
    container = std::make_unique<Container>(frameWindow, position);

    module = LoadLibraryW(wide(KIV_LIBRARY_PATH).c_str());
    ASSERT_NE(module, nullptr) << KIV_LIBRARY_PATH;
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    GUID clsid{};
    ASSERT_EQ(CLSIDFromString(wide(typelib::kClassId).c_str(), &clsid), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(clsid, __uuidof(IClassFactory), factory.outVoid()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IOleObject), object.outVoid()), S_OK);

    DWORD misc = 0;
    EXPECT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, static_cast<DWORD>(OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                       OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST));
    ASSERT_EQ(object->SetClientSite(container.get()), S_OK);

    ComPtr<IPersistPropertyBag> persist;
    ASSERT_EQ(object->QueryInterface(__uuidof(IPersistPropertyBag), persist.outVoid()), S_OK);
    ASSERT_EQ(persist->InitNew(), S_OK);
    ComPtr<IConnectionPointContainer> points;
    ASSERT_EQ(object->QueryInterface(__uuidof(IConnectionPointContainer), points.outVoid()), S_OK);
    ASSERT_EQ(points->FindConnectionPoint(__uuidof(__Upload), point.out()), S_OK);
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object->QueryInterface(__uuidof(IDispatch), dispatch.outVoid()), S_OK);
    EXPECT_EQ(put(dispatch.get(), L"FullPath", photos.path().wstring()), S_OK);
    EXPECT_EQ(put(dispatch.get(), L"KIVWEB", wide(servers.webBase())), S_OK);
    EXPECT_EQ(put(dispatch.get(), L"KIVFTP", wide(servers.ftpHost())), S_OK);
    EXPECT_EQ(put(dispatch.get(), L"KIVUser", wide(servers.user())), S_OK);
    EXPECT_EQ(put(dispatch.get(), L"KIVPassword", wide(servers.password())), S_OK);
    EXPECT_EQ(put(dispatch.get(), L"VehicleID", L"5"), S_OK);
    EXPECT_EQ(put(dispatch.get(), L"CompanyID", L"9"), S_OK);

    SIZEL extent{};
    EXPECT_EQ(object->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, MulDiv(width, 2540, 96));
    EXPECT_EQ(extent.cy, MulDiv(height, 2540, 96));

    // Activation shows the control: the folder is read and the gallery filled.
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, container.get(), 0, frameWindow, &position), S_OK);
    EXPECT_EQ(container->inPlaceActivations, 1);
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(object->QueryInterface(__uuidof(IOleInPlaceObject), inPlace.outVoid()), S_OK);
    ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), frameWindow);
    EXPECT_TRUE(IsWindowVisible(window));
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    UpdateWindow(frameWindow);
    pumpMessages();
    ASSERT_EQ(object->QueryInterface(__uuidof(IViewObject2), view.outVoid()), S_OK);
    EXPECT_TRUE(sameView(view.get(), model, width, height)) << "the control shows what the model does";
  }

  int stores() const {
    int count = 0;
    for (const std::string& request : servers.requests())
      if (request.rfind("FTP STOR", 0) == 0) ++count;
    return count;
  }

  void TearDown() override {
    view.reset();
    if (point && cookie != 0) {
      EXPECT_EQ(point->Unadvise(cookie), S_OK);
    }
    point.reset();
    if (object) {
      EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
      EXPECT_FALSE(IsWindow(window)) << "closing destroys the control's window";
      EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
      object.reset();
    }
    if (container) {
      EXPECT_FALSE(container->active) << "UI deactivation leaves the frame without an active object";
      EXPECT_EQ(container->refs, 0u);
    }
    EXPECT_EQ(sink.refs, 0u);
    EXPECT_TRUE(g_messageBoxes.empty()) << std::filesystem::path(g_messageBoxes.empty() ? L"" : g_messageBoxes[0]).string();
    g_messageBoxes.clear();
    if (watch != 0) KillTimer(nullptr, watch);
    if (frameWindow != nullptr) DestroyWindow(frameWindow);
    UnregisterClassW(L"KivTestContainer", GetModuleHandleW(nullptr));
    container.reset();
    if (module != nullptr) FreeLibrary(module);
    OleUninitialize();
  }
};

TEST_F(ComInPlace, AHostedControlAnswersClicksOnItsWindow) {
  host(5);
  Canvas canvas(width, height);
  drawView(view.get(), canvas);
  const RECT zoom = gdi::controlRect(model, model.imgZoom, client);
  const POINT zoomProbe{zoom.left + (zoom.right - zoom.left) / 5, zoom.top + (zoom.bottom - zoom.top) / 5};
  const COLORREF firstPhoto = canvas.at(zoomProbe.x, zoomProbe.y);
  const RECT secondThumbnail = gdi::controlRect(model, model.Image2[1], client);
  EXPECT_NE(canvas.at(centreOf(secondThumbnail).x, centreOf(secondThumbnail).y), RGB(255, 255, 255))
      << "the gallery shows after activation";

  // Thumbnail 2 into the enlarged view.
  click(window, centreOf(secondThumbnail));
  EXPECT_EQ(container->uiActivations, 1) << "a click makes the control UI-active";
  EXPECT_TRUE(container->active) << "the active object is known to the frame";
  drawView(view.get(), canvas);
  const COLORREF secondPhoto = canvas.at(zoomProbe.x, zoomProbe.y);
  EXPECT_NE(secondPhoto, firstPhoto) << "the enlarged view shows the second photo";
  const POINT thumbnailProbe{secondThumbnail.left + (secondThumbnail.right - secondThumbnail.left) / 5,
                             secondThumbnail.top + (secondThumbnail.bottom - secondThumbnail.top) / 5};
  const COLORREF thumbnailPixel = canvas.at(thumbnailProbe.x, thumbnailProbe.y);
  EXPECT_LT(std::abs(GetRValue(secondPhoto) - GetRValue(thumbnailPixel)) +
                std::abs(GetGValue(secondPhoto) - GetGValue(thumbnailPixel)),
            60)
      << "the enlarged view and thumbnail 2 show the same corner of the same picture";
  model.Image2_Click(1);
  EXPECT_TRUE(sameView(view.get(), model, width, height));

  // The check boxes of photos 2 and 4.
  const RECT box2 = gdi::controlRect(model, model.chkSelect[1], client);
  const RECT box4 = gdi::controlRect(model, model.chkSelect[3], client);
  click(window, POINT{box2.left + 6, centreOf(box2).y});
  click(window, POINT{box4.left + 6, centreOf(box4).y});
  model.chkSelect[1].Value = 1;
  model.chkSelect[3].Value = 1;
  EXPECT_TRUE(sameView(view.get(), model, width, height)) << "both boxes show ticked, no other";

  // The screenshot: the window's own painting, read back from its device context.
  {
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    pumpMessages();
    Canvas shot(width, height);
    HDC windowDc = GetDC(window);
    BitBlt(shot.dc(), 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
    ReleaseDC(window, windowDc);
    drawView(view.get(), canvas);
    GdiFlush();
    const bool painted =
        std::memcmp(shot.bits(), canvas.bits(), static_cast<std::size_t>(width) * height * 4) == 0;
    if (!painted) {
      std::printf("The window's pixels could not be read back: the screenshot is PrintWindow's.\n");
      PrintWindow(window, shot.dc(), PW_CLIENTONLY);
    }
    EXPECT_GT(shot.countOffWhiteIn(RECT{0, 0, shot.width(), shot.height()}), width * height / 20);
    const std::filesystem::path file = KIV_SCREENSHOT_PATH;
    std::filesystem::create_directories(file.parent_path());
    EXPECT_EQ(savePng(shot, file.wstring()), S_OK);
    std::printf("Screenshot: %s\n", file.string().c_str());
  }

  // Upload Selected Photos: the two ticked photos go, the rest stay.
  click(window, centreOf(gdi::controlRect(model, model.imgSelectedPhotos, client)));
  pumpMessages();
  EXPECT_EQ(stores(), 2);
  const std::set<std::string> left = test::filesUnder(photos.path());
  EXPECT_EQ(left.size(), 3u);
  for (std::size_t sent : {1u, 3u}) {
    const std::string name = std::filesystem::path(listed[sent]).filename().string();
    EXPECT_EQ(left.count(name), 0u) << name << " was sent and removed";
  }
  EXPECT_EQ(sink.closeApps, 1);
}

TEST_F(ComInPlace, TheWheelAndTheScrollBarMoveTheGallery) {
  host(10);
  ASSERT_TRUE(model.VScroll1.Visible) << "four rows need the scroll bar";

  SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
  model.VScroll1.Value = model.VScroll1.SmallChange;
  model.VScroll1_Change();
  EXPECT_TRUE(sameView(view.get(), model, width, height)) << "a notch down scrolls by SmallChange";

  const RECT bar = gdi::controlRect(model, model.VScroll1, client);
  click(window, POINT{centreOf(bar).x, bar.bottom - 3});
  model.VScroll1.Value += model.VScroll1.SmallChange;
  model.VScroll1_Change();
  EXPECT_TRUE(sameView(view.get(), model, width, height)) << "the down arrow scrolls by SmallChange";

  click(window, POINT{centreOf(bar).x, bar.top + 3});
  click(window, POINT{centreOf(bar).x, bar.top + 3});
  click(window, POINT{centreOf(bar).x, bar.top + 3});
  model.VScroll1.Value = model.VScroll1.Min;
  model.VScroll1_Change();
  EXPECT_TRUE(sameView(view.get(), model, width, height)) << "the up arrow stops at Min";

  // Escape is the Cancel button.
  SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(sink.closeApps, 1);
  EXPECT_EQ(stores(), 0);
}

TEST_F(ComInPlace, EscapeEndsAnUploadAndTheContainerMayReleaseTheControlInCloseApp) {
  host(5);
  sink.onCloseApp = [&] {
    // As a page does when it navigates away: the control goes while it is busy.
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    cookie = 0;
    point.reset();
    view.reset();
    object.reset();
  };
  // Pressed before the run starts, read between its photos.
  PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
  click(window, centreOf(gdi::controlRect(model, model.imgUploadAll, client)));
  EXPECT_EQ(sink.closeApps, 1);
  EXPECT_FALSE(object) << "released inside CloseApp";
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(stores(), 1) << "the run ends after the photo in hand";
  EXPECT_EQ(test::filesUnder(photos.path()).size(), 4u);
  pumpMessages();
}

}  // namespace
}  // namespace kiv
