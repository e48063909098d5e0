#include "ui_win32/main_window.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <stdexcept>

#include "app/relay_host.h"
#include "diag/my_log.h"
#include "net/network_watcher.h"
#include "present/gauge_look.h"
#include "present/picture_scale.h"
#include "ui_win32/about_window.h"
#include "ui_win32/app_exception.h"
#include "ui_win32/attached_window.h"
#include "ui_win32/help_window.h"
#include "ui_win32/lamp_panel.h"
#include "ui_win32/options_dialog.h"
#include "ui_win32/relay_panel.h"
#include "ui_win32/report_list.h"
#include "ui_win32/status_lists.h"
#include "ui_win32/tray_icon.h"
#include "ui_win32/win32_relay_view.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

namespace {

void RegisterMainWindowClass(WNDPROC AProc, HICON AIcon, HICON ASmallIcon) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  if (GetClassInfoExW(GetModuleHandleW(nullptr), kMainWindowClass, &windowClass)) {
    return;
  }
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = AProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hIcon = AIcon;
  windowClass.hIconSm = ASmallIcon;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassExW(&windowClass);
}

HICON LoadMainIcon(int ASize) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, ASize,
                                       ASize, LR_DEFAULTCOLOR));
}

}  // namespace

TfmMain::TfmMain(TMyLog& ALog, TRegistryStore& AStore, const TCommandLine& AOptions,
                 TRelayAsk AAttachTo)
    : fLog(ALog),
      fStore(AStore),
      fPresenter(std::make_unique<TMainPresenter>(*this, ALog, AStore)) {
  INITCOMMONCONTROLSEX controls{sizeof(controls),
                                ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterPictureClass();
  fIcon.Reset(LoadMainIcon(GetSystemMetrics(SM_CXICON)));
  fSmallIcon.Reset(LoadMainIcon(GetSystemMetrics(SM_CXSMICON)));
  RegisterMainWindowClass(&TfmMain::WndProc, fIcon.Get(), fSmallIcon.Get());

  // Sizable, with system menu and minimize button but no maximize button.
  const DWORD style =
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN;
  fWindow.Reset(CreateWindowExW(WS_EX_CONTROLPARENT, kMainWindowClass, L"", style, CW_USEDEFAULT,
                                CW_USEDEFAULT, 100, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), this));
  fHandle = fWindow.Get();
  if (fHandle == nullptr) {
    throw std::runtime_error("The main window could not be created");
  }
  fDpi = WindowDpi(fHandle);
  CreateFonts();
  LoadPictures();
  CreateControls();
  SetClientSize(fHandle, ScaleFrom96(kMainClientWidth, fDpi), ScaleFrom96(kMainClientHeight, fDpi));
  CentreOver(fHandle, nullptr);
  FormResize();
  FormCreate(AOptions, std::move(AAttachTo));
}

TfmMain::~TfmMain() {
  // Without an orderly shut-down (FormDestroy) the listener must still be gone before the
  // window it posts to.
  fPresenter->Abandon();
  fAttached.reset();
  fLamps.reset();
  if (fTray) {
    fTray->Remove();
  }
  fWindow.Reset();
  fHandle = nullptr;
}

HWND TfmMain::Child(int AId) const {
  const TPartSpec* part = FindMainPart(AId);
  if (part == nullptr) {
    return nullptr;
  }
  HWND parent = part->InPanel ? GetDlgItem(fHandle, idPanel1) : fHandle;
  return GetDlgItem(parent, AId);
}

void TfmMain::CreateFonts() {
  fFont.Reset(CreateDesignFont(L"Tahoma", 11, fDpi));
  fTitleFont.Reset(CreateDesignFont(L"Tahoma", 19, fDpi));
  fScaleFont.Reset(CreateDesignFont(L"Tahoma", 8, fDpi));
  fErrorFont.Reset(CreateDesignFont(L"Tahoma", 11, fDpi, true));
  if (fWhiteBrush.Get() == nullptr) {
    fWhiteBrush.Reset(CreateSolidBrush(RGB(255, 255, 255)));
    fLineBrush.Reset(CreateSolidBrush(RGB(0xA0, 0xA0, 0xA0)));
  }
}

void TfmMain::LoadPictures() {
  // The drawings for this dpi; the windows showing the previous ones are given these.
  const char* const names[] = {"STRIP", "LOGO", "APPLICATION", "CONTROLLER", "RELAY"};
  const int scale = PictureScaleFor(fDpi / 96.0);
  for (std::size_t i = 0; i < fPictures.size(); ++i) {
    fPictures[i] = std::make_unique<TPicture>(Widen(ScaledPictureName(names[i], scale)).c_str());
  }
  if (HWND panel = GetDlgItem(fHandle, idPanel1)) {
    const int pictures[] = {idImage1, idImage3, idimgApplication, idimgController, idImage2};
    for (std::size_t i = 0; i < fPictures.size(); ++i) {
      SetPicture(Child(pictures[i]), fPictures[i].get());
    }
    const TBounds drawing = ScaleFrom96(FindMainPart(idImage2)->Design, fDpi);
    SetPanelDrawing(panel, fPictures[4].get(),
                    RECT{drawing.Left, drawing.Top, drawing.Right(), drawing.Bottom()});
  }
}

void TfmMain::CreateControls() {
  RegisterPanelClass();
  HWND panel = nullptr;
  for (const TPartSpec& part : MainWindowParts()) {
    HWND parent = part.InPanel ? panel : fHandle;
    HFONT font = fFont.Font();
    const wchar_t* windowClass = L"STATIC";
    const wchar_t* text = L"";
    DWORD style = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
    const TPicture* picture = nullptr;
    switch (part.Id) {
      case idImage1:
      case idImage3:
      case idimgApplication:
      case idimgController:
      case idImage2:
      case idimgLANRx:
      case idimgWANRx:
      case idimgLANTx:
      case idimgWANTx:
        windowClass = kPictureClass;
        style = WS_VISIBLE;
        break;
      case idlblLAN:
        text = L"Applications (LAN)";
        font = fTitleFont.Font();
        break;
      case idlblWAN:
        text = L"Controllers (WAN)";
        font = fTitleFont.Font();
        break;
      case idListView1:
      case idListView2:
        AddReportColumns(CreateReportList(fHandle, part.Id, part.Design, fDpi, font, true, true),
                         kStatusColumns, fDpi);
        continue;
      case idPanel1:
        windowClass = kPanelClass;
        style = WS_VISIBLE;
        break;
      case idlblLocalIP:
        style = WS_VISIBLE | SS_CENTER | SS_NOPREFIX;
        break;
      case idlblError:
        // Hidden until the port cannot be opened; centred and wrapped. SS_NOTIFY lets its
        // tooltip (the reason) see the mouse.
        style = SS_CENTER | SS_NOPREFIX | SS_NOTIFY;
        text = L"Error opening port 8442!";
        font = fErrorFont.Font();
        break;
      case idButton1:
      case idButton4:
      case idButton2:
      case idButton3:
        windowClass = L"BUTTON";
        style = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
        text = part.Id == idButton1   ? L"Setup"
               : part.Id == idButton4 ? L"Help"
               : part.Id == idButton2 ? L"About"
                                      : L"Close";
        break;
      case idLabel1:
        text = L"LAN:";
        break;
      case idLabel2:
        text = L"WAN:";
        break;
      case idlblReqCount:
      case idlblAckCount:
        text = L"-";
        style = WS_VISIBLE | SS_RIGHT | SS_NOPREFIX;
        break;
      case idLabel5:
      case idLabel6:
        text = L"Rx";
        break;
      case idLabel7:
      case idLabel8:
        text = L"Tx";
        break;
      case idLabel3:
      case idLabel4:
        text = L"8442";
        style = WS_VISIBLE | SS_CENTER | SS_NOPREFIX;
        break;
      case idGauge1:
        windowClass = PROGRESS_CLASSW;
        style = WS_VISIBLE | WS_BORDER | PBS_SMOOTH;
        break;
      case idlblMsgCount:
        // Not shown itself: the gauge draws its text over the bar.
        style = SS_CENTER | SS_NOPREFIX;
        text = L"-";
        break;
      case idLabel9:
      case idLabel10:
      case idLabel11:
        text = part.Id == idLabel9 ? L"0" : part.Id == idLabel10 ? L"10" : L"20";
        font = fScaleFont.Font();
        break;
      default:
        break;
    }
    HWND child = CreateChild(parent, windowClass, text, style, 0, part.Id, part.Design, fDpi, font);
    if (child == nullptr) {
      throw std::runtime_error(std::string("The window's part ") + part.Name +
                               " could not be created");
    }
    if (part.Id == idPanel1) {
      panel = child;
    }
    if (part.Design.Width == 0 || part.Design.Height == 0) {
      FitToText(child, ScaleFrom96(part.Design.Width, fDpi));
    }
    switch (part.Id) {
      case idImage1:
        picture = fPictures[0].get();
        break;
      case idImage3:
        picture = fPictures[1].get();
        break;
      case idimgApplication:
        picture = fPictures[2].get();
        break;
      case idimgController:
        picture = fPictures[3].get();
        break;
      case idImage2: {
        const TBounds place = ScaleFrom96(part.Design, fDpi);
        SetPanelDrawing(panel, fPictures[4].get(),
                        RECT{place.Left, place.Top, place.Right(), place.Bottom()});
        picture = fPictures[4].get();
        break;
      }
      case idGauge1:
        // The classic bar takes the colours: white ground, active-caption gradient bar.
        SetWindowTheme(child, L"", L"");
        SendMessageW(child, PBM_SETRANGE32, 0, 20);
        SendMessageW(child, PBM_SETBKCOLOR, 0,
                     RGB(kGaugeBackColor.R, kGaugeBackColor.G, kGaugeBackColor.B));
        SendMessageW(child, PBM_SETBARCOLOR, 0, GetSysColor(COLOR_GRADIENTACTIVECAPTION));
        break;
      default:
        break;
    }
    if (picture != nullptr) {
      SetPicture(child, picture);
    }
  }
  DrawLabelOverGauge(Child(idGauge1), Child(idlblMsgCount));
  // The banner's three parts overlap: the logo lies above the strip and the grey line above
  // both, and none paints over a part above it, so the line runs whole under the logo.
  for (int id : {idImage1, idImage3, idShape1}) {
    HWND part = Child(id);
    SetWindowLongPtrW(part, GWL_STYLE, GetWindowLongPtrW(part, GWL_STYLE) | WS_CLIPSIBLINGS);
    SetWindowPos(part, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  const TBounds count = ChildBounds(Child(idlblReqCount));
  fCountRight = count.Right();
}

void TfmMain::ShowCount(int AId, const std::string& AText) {
  // The count keeps its right edge as the number grows.
  HWND label = Child(AId);
  SetWindowTextUtf8(label, AText);
  FitToText(label);
  const TBounds place = ChildBounds(label);
  SetWindowPos(label, nullptr, fCountRight - place.Width, place.Top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(label, nullptr, TRUE);
}

void TfmMain::ShowPortError(bool AVisible) {
  ShowWindow(Child(idlblError), AVisible ? SW_SHOWNA : SW_HIDE);
}

void TfmMain::ShowPortErrorReason(const std::string& AReason) {
  std::wstring text = Widen(AReason);
  if (text == fErrorTipText) {
    return;
  }
  fErrorTipText = std::move(text);
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = fHandle;
  tool.uId = reinterpret_cast<UINT_PTR>(Child(idlblError));
  tool.lpszText = fErrorTipText.data();
  if (fErrorTip == nullptr) {
    // Owned by the main window, which destroys it with itself.
    fErrorTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                0, 0, 0, 0, fHandle, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(fErrorTip, TTM_SETMAXTIPWIDTH, 0, ScaleFrom96(400, fDpi));
    SendMessageW(fErrorTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  } else {
    SendMessageW(fErrorTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void TfmMain::FormResize() {
  RECT client{};
  GetClientRect(fHandle, &client);
  const std::vector<TBounds> places = MainWindowLayout(client.right, client.bottom, fDpi);
  const auto parts = MainWindowParts();
  HDWP positions = BeginDeferWindowPos(static_cast<int>(parts.size()));
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].InPanel) {
      continue;  // the panel's children move with it
    }
    HWND child = GetDlgItem(fHandle, parts[i].Id);
    const bool autosized = parts[i].Design.Width == 0 || parts[i].Design.Height == 0;
    const TBounds& place = places[i];
    positions =
        DeferWindowPos(positions, child, nullptr, place.Left, place.Top, place.Width, place.Height,
                       SWP_NOZORDER | SWP_NOACTIVATE | (autosized ? SWP_NOSIZE : 0));
  }
  EndDeferWindowPos(positions);
  for (int list : {idListView1, idListView2}) {
    FitStatusColumns(Child(list), fDpi);
  }
}

void TfmMain::FormCreate(const TCommandLine& AOptions, TRelayAsk AAttachTo) {
  // 1. The notification icon.
  fTray = std::make_unique<TTrayIcon>(fHandle, fSmallIcon.Get());
  fTray->Add();
  if (AAttachTo) {
    fPresenter->FormCreateAttached(std::move(AAttachTo));
    return;
  }

  // 2. The address tables (inside the relay host), with the view the engine reports to.
  TWin32RelayView::TTarget target;
  target.Lamp = [this](TLamp ALamp, TLedColor AColor) { SetLed(ALamp, AColor); };
  target.ReqCount = [this](std::int32_t AValue) {
    ShowCount(idlblReqCount, std::to_string(AValue));
  };
  target.AckCount = [this](std::int32_t AValue) {
    ShowCount(idlblAckCount, std::to_string(AValue));
  };
  target.LocalIP = [this](const std::string& AAddress) {
    SetWindowTextUtf8(Child(idlblLocalIP), AAddress);
  };
  target.PortError = [this](bool AVisible) { ShowPortError(AVisible); };
  fView = std::make_unique<TWin32RelayView>(fHandle, std::move(target));
  fPresenter->CreateRelay(*fView);
  // Its callbacks run on a thread of the system's: they only post a message to this window.
  fNetwork = std::make_unique<TNetworkWatcher>(
      [handle = fHandle] { PostMessageW(handle, kNetworkChangedMessage, 0, 0); });
  fStatus = std::make_unique<TStatusLists>(Child(idListView1), Child(idListView2), Child(idGauge1),
                                           Child(idlblMsgCount));
  fPresenter->StartRelay(AOptions.DebugLog);
}

void TfmMain::ShowCounters(const std::string& AText) {
  ShowCount(idlblReqCount, AText);
  ShowCount(idlblAckCount, AText);
  SetWindowTextUtf8(Child(idlblMsgCount), AText);
}

void TfmMain::SetCaption(const std::string& ACaption) {
  SetWindowTextUtf8(fHandle, ACaption);
}

void TfmMain::SetExceptionHandler(TFormLifecycle::TExceptionHandler AHandler) {
  SetAppExceptionHandler(std::move(AHandler));
}

void TfmMain::StartTimers() {
  SetTimer(fHandle, kSystemTimerId, kStatusTickMs, nullptr);
  SetTimer(fHandle, kAgeingTimerId, kAgeingTickMs, nullptr);
}

void TfmMain::StopTimers() {
  KillTimer(fHandle, kSystemTimerId);
  if (fLamps) {
    fLamps->StopTimers();
  }
  KillTimer(fHandle, kAgeingTimerId);
}

void TfmMain::CreateLamps() {
  fLamps = std::make_unique<TLampPanel>(fHandle,
                                        std::array<HWND, 4>{Child(idimgLANRx), Child(idimgWANRx),
                                                            Child(idimgLANTx), Child(idimgWANTx)},
                                        kFirstLampTimerId, fDpi);
}

void TfmMain::RemoveTrayIcon() {
  fTray->Remove();
}

void TfmMain::FormDestroy() {
  fPresenter->FormDestroy();
}

void TfmMain::AppOnException(const std::string& AMessage) {
  fPresenter->AppOnException(AMessage);
}

void TfmMain::timSystemTimer() {
  if (fAttached) {
    fAttached->timPollTimer();
    return;
  }
  TRelayHost& host = Host();
  const auto snapshot = TakeStatusSnapshot(host.Tables());
  fStatus->Tick(host.SampleRate(), snapshot);
  ShowPortErrorReason(host.NetworkStatus().Error);
  // The tray's tip follows the status tick, so the shell is asked at most once a second.
  fPresenter->ShowNetworkStatus(
      host.NetworkStatus(), static_cast<int>(snapshot->NATRows.size()),
      static_cast<int>(snapshot->StaticRows.size() + snapshot->PushRows.size()));
}

// The address label shows no tooltip here.
void TfmMain::ShowNetworkTexts(const std::string& ATrayTip, bool AAlert,
                               const std::string& /*AAddressTip*/) {
  if (fTray) {
    fTray->SetToolTip(ATrayTip);
    fTray->SetAlert(AAlert);
  }
}

TControlAnswer TfmMain::AnswerRequest(const std::string& ALine) {
  return fPresenter->AnswerRequest(ALine);
}

void TfmMain::SetLed(TLamp ALamp, TLedColor AColor) {
  if (fLamps) {
    fLamps->SetLed(ALamp, AColor);
  }
}

void TfmMain::acOptionsExecute() {
  if (fAttached && fDialogs.Options != nullptr) {
    fAttached->RunSetup(*fDialogs.Options);
    return;
  }
  if (TfmOptions* options = fDialogs.Options) {
    fPresenter->RunSetup(*options, [this, options] { return options->ShowModal(fHandle) == IDOK; });
  }
}

void TfmMain::acHelpExecute() {
  if (fDialogs.Help == nullptr) {
    return;
  }
  fDialogs.Help->SetHelpFile(HelpFileBesideExecutable());
  fDialogs.Help->ShowModal(fHandle);
}

void TfmMain::acAboutExecute() {
  if (fDialogs.About != nullptr) {
    fDialogs.About->ShowModal(fHandle);
  }
}

void TfmMain::acCloseExecute() {
  SendMessageW(fHandle, WM_CLOSE, 0, 0);
}

void TfmMain::Restore1Click() {
  ShowMainWindow();
}

void TfmMain::Exit1Click() {
  fPresenter->Exit1Click();
}

void TfmMain::EndMessageLoop() {
  PostQuitMessage(0);
}

void TfmMain::ShowMainWindow() {
  KeepOnWorkArea(fHandle);
  ShowWindow(fHandle, SW_SHOW);
  SetForegroundWindow(fHandle);
}

void TfmMain::ShowRequested() {
  fPresenter->ShowRequested();
}

bool TfmMain::Minimized() const {
  return IsIconic(fHandle) != FALSE;
}

void TfmMain::RestoreMinimized() {
  ShowWindow(fHandle, SW_RESTORE);
}

std::int32_t TfmMain::RestoredTop() const {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  GetWindowPlacement(fHandle, &placement);
  return placement.rcNormalPosition.top;
}

std::int32_t TfmMain::RestoredLeft() const {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  GetWindowPlacement(fHandle, &placement);
  return placement.rcNormalPosition.left;
}

// Through the placement, so that the stored and the restored positions are one measure; the
// restored frame keeps its size.
void TfmMain::MoveRestoredFrame(const LONG* ALeft, const LONG* ATop) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  GetWindowPlacement(fHandle, &placement);
  RECT& frame = placement.rcNormalPosition;
  OffsetRect(&frame, ALeft != nullptr ? *ALeft - frame.left : 0,
             ATop != nullptr ? *ATop - frame.top : 0);
  placement.showCmd = IsWindowVisible(fHandle) ? SW_SHOWNA : SW_HIDE;
  placement.flags = 0;
  SetWindowPlacement(fHandle, &placement);
}

void TfmMain::SetTop(std::int32_t ATop) {
  const LONG top = ATop;
  MoveRestoredFrame(nullptr, &top);
}

void TfmMain::SetLeft(std::int32_t ALeft) {
  const LONG left = ALeft;
  MoveRestoredFrame(&left, nullptr);
}

LRESULT CALLBACK TfmMain::WndProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  if (AMessage == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(ALParam);
    SetWindowLongPtrW(AWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TfmMain*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  if (form == nullptr) {
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
  }
  if (form->fHandle == nullptr) {
    form->fHandle = AWindow;
  }
  // Nothing escapes into the system's dispatch: errors go to AppOnException.
  return Guarded([&] { return form->Message(AMessage, AWParam, ALParam); }, LRESULT{0});
}

bool TfmMain::Command(UINT AId) {
  switch (AId) {
    case idButton1:
      acOptionsExecute();
      return true;
    case idButton4:
      acHelpExecute();
      return true;
    case idButton2:
      acAboutExecute();
      return true;
    case idButton3:
      acCloseExecute();
      return true;
    default:
      return false;
  }
}

LRESULT TfmMain::ColorStatic(HDC ADC, HWND AChild) {
  const int id = GetDlgCtrlID(AChild);
  SetBkMode(ADC, TRANSPARENT);
  switch (id) {
    case idImage1:
    case idImage3:
      return reinterpret_cast<LRESULT>(fWhiteBrush.Brush());
    case idShape1:
      return reinterpret_cast<LRESULT>(fLineBrush.Brush());
    case idlblError:
      SetTextColor(ADC, RGB(255, 0, 0));
      break;
    default:
      SetTextColor(ADC, GetSysColor(COLOR_BTNTEXT));
      break;
  }
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void TfmMain::DpiChanged(int ADpi, const RECT& ASuggested) {
  fDpi = ADpi;
  CreateFonts();
  // Every part back to its designed place at the new scale, then the resize rule.
  for (const TPartSpec& part : MainWindowParts()) {
    HWND child = Child(part.Id);
    HFONT font = part.Id == idlblLAN || part.Id == idlblWAN ? fTitleFont.Font()
                 : part.Id == idlblError                    ? fErrorFont.Font()
                 : part.Id >= idLabel9                      ? fScaleFont.Font()
                                                            : fFont.Font();
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (part.InPanel) {
      PlaceWindow(child, ScaleFrom96(part.Design, fDpi));
    }
    if (part.Design.Width == 0 || part.Design.Height == 0) {
      FitToText(child, ScaleFrom96(part.Design.Width, fDpi));
    }
  }
  LoadPictures();
  if (fLamps) {
    fLamps->ReloadPictures(fDpi);
  }
  for (int list : {idListView1, idListView2}) {
    for (int column = 0; column < kStatusColumnCount; ++column) {
      SendMessageW(Child(list), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
                   ScaleFrom96(kStatusColumns[static_cast<std::size_t>(column)].Width, fDpi));
    }
  }
  // The counters' right edge is where a "-" at the designed left ends, measured again in the
  // new font; the counts shown stay.
  const std::string reqCount = WindowTextUtf8(Child(idlblReqCount));
  const std::string ackCount = WindowTextUtf8(Child(idlblAckCount));
  SetWindowTextW(Child(idlblReqCount), L"-");
  FitToText(Child(idlblReqCount));
  fCountRight = ChildBounds(Child(idlblReqCount)).Right();
  ShowCount(idlblReqCount, reqCount);
  ShowCount(idlblAckCount, ackCount);
  SetWindowPos(fHandle, nullptr, ASuggested.left, ASuggested.top,
               ASuggested.right - ASuggested.left, ASuggested.bottom - ASuggested.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  KeepOnWorkArea(fHandle);  // a 1.5x window may be wider than a small screen
  FormResize();
  InvalidateRect(fHandle, nullptr, TRUE);
}

LRESULT TfmMain::Message(UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  if (fView && fView->Deliver(AMessage, AWParam)) {
    return 0;
  }
  if (fTray && fTray->TaskbarCreated(AMessage)) {
    return 0;
  }
  switch (AMessage) {
    case WM_TIMER:
      if (AWParam == kSystemTimerId) {
        timSystemTimer();
      } else if (AWParam == kAgeingTimerId) {
        fPresenter->AgeingTick();
      } else if (fLamps) {
        fLamps->TimerFired(AWParam);
      }
      return 0;
    case WM_SIZE:
      if (AWParam != SIZE_MINIMIZED && fStatus) {
        FormResize();
      }
      return 0;
    case WM_CLOSE:
      // Closing never ends the relay: the window hides in the notification area.
      if (!fPresenter->Exiting()) {
        ShowWindow(fHandle, SW_HIDE);
      }
      return 0;
    case WM_QUERYENDSESSION:
      // Logoff and shutdown are never blocked.
      return TRUE;
    case WM_ENDSESSION:
      // The process ends right after this message: shut down in order, settings saved.
      if (AWParam != FALSE) {
        FormDestroy();
      }
      return 0;
    case kShowRequestMessage:
      ShowRequested();
      return 0;
    case kNetworkChangedMessage:
      if (fNetwork && fNetwork->Drain()) {
        Host().NetworkChanged();
      }
      return 0;
    case WM_POWERBROADCAST:
      // Back from sleep: the adapters may have new addresses, or none yet.
      if ((AWParam == PBT_APMRESUMEAUTOMATIC || AWParam == PBT_APMRESUMESUSPEND) &&
          fPresenter->Host() != nullptr) {
        fPresenter->Host()->NetworkChanged();
      }
      return TRUE;
    case kTrayMessage:
      if (fTray && fTray->TrayMessage(ALParam) == TTrayIcon::TAction::Show) {
        ShowMainWindow();
      }
      return 0;
    case WM_COMMAND:
      if (ALParam == 0 && HIWORD(AWParam) == 0) {
        if (LOWORD(AWParam) == kRestoreCommand) {
          Restore1Click();
          return 0;
        }
        if (LOWORD(AWParam) == kExitCommand) {
          Exit1Click();
          return 0;
        }
      }
      if (HIWORD(AWParam) == BN_CLICKED && Command(LOWORD(AWParam))) {
        return 0;
      }
      // Esc, through the dialog keys of the message loop: hidden as by the close box.
      if (LOWORD(AWParam) == IDCANCEL) {
        acCloseExecute();
        return 0;
      }
      break;
    case WM_HELP:
      // F1 anywhere in the window; not while a dialog of its own is open over it.
      if (IsWindowEnabled(fHandle)) {
        acHelpExecute();
      }
      return TRUE;
    case WM_CONTEXTMENU:
      if (fStatus && fStatus->ListMessage(fHandle, AMessage, AWParam, ALParam)) {
        return 0;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(ALParam);
      if (fStatus && fStatus->ListMessage(fHandle, AMessage, AWParam, ALParam)) {
        return 0;
      }
      if (header->code == LVN_GETDISPINFOW && fStatus &&
          fStatus->GetDispInfo(*reinterpret_cast<NMLVDISPINFOW*>(ALParam))) {
        return 0;
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
      return ColorStatic(reinterpret_cast<HDC>(AWParam), reinterpret_cast<HWND>(ALParam));
    case WM_DPICHANGED:
      DpiChanged(HIWORD(AWParam), *reinterpret_cast<const RECT*>(ALParam));
      return 0;
    default:
      break;
  }
  return DefWindowProcW(fHandle, AMessage, AWParam, ALParam);
}

}  // namespace kelvo
