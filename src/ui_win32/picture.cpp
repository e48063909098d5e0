#include "ui_win32/picture.h"

#include <objbase.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <string>
#include <utility>

namespace kelvo {

namespace {

// Releases a COM interface at the end of its scope.
template <typename TInterface>
class TComPtr {
 public:
  TComPtr() = default;
  ~TComPtr() {
    if (fPointer != nullptr) {
      fPointer->Release();
    }
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  TInterface** Out() { return &fPointer; }
  TInterface* operator->() const { return fPointer; }
  TInterface* Get() const { return fPointer; }

 private:
  TInterface* fPointer = nullptr;
};

void Check(HRESULT AResult, const char* AStep, const wchar_t* AName) {
  if (FAILED(AResult)) {
    std::string name;
    for (const wchar_t* c = AName; *c != L'\0'; ++c) {
      name += static_cast<char>(*c);
    }
    throw TPictureError("Picture " + name + ": " + AStep + " failed");
  }
}

}  // namespace

TPicture::TPicture(const wchar_t* AName) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, AName, MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL data = info != nullptr ? LoadResource(module, info) : nullptr;
  const void* bytes = data != nullptr ? LockResource(data) : nullptr;
  if (bytes == nullptr) {
    Check(E_FAIL, "finding the resource", AName);
  }
  const DWORD size = SizeofResource(module, info);

  // COM may already be initialised on this thread, in either model; both serve.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  struct TComScope {
    bool Owned;
    ~TComScope() {
      if (Owned) {
        CoUninitialize();
      }
    }
  } comScope{SUCCEEDED(com)};

  TComPtr<IWICImagingFactory> factory;
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out())),
        "creating the imaging factory", AName);
  TComPtr<IWICStream> stream;
  Check(factory->CreateStream(stream.Out()), "creating a stream", AName);
  Check(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), size),
        "reading the resource", AName);
  TComPtr<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                         decoder.Out()),
        "decoding", AName);
  TComPtr<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, frame.Out()), "reading the frame", AName);
  TComPtr<IWICFormatConverter> converter;
  Check(factory->CreateFormatConverter(converter.Out()), "creating a converter", AName);
  Check(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                              nullptr, 0.0, WICBitmapPaletteTypeCustom),
        "converting", AName);
  UINT width = 0;
  UINT height = 0;
  Check(converter->GetSize(&width, &height), "reading the size", AName);

  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof(header.bmiHeader);
  header.bmiHeader.biWidth = static_cast<LONG>(width);
  header.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, like WIC's rows
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  THandleOwner<TGdiObjectTraits> bitmap(
      CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &pixels, nullptr, 0));
  if (!bitmap) {
    Check(E_OUTOFMEMORY, "creating the bitmap", AName);
  }
  const UINT stride = width * 4;
  const HRESULT copied =
      converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(pixels));
  if (FAILED(copied)) {
    Check(copied, "copying the pixels", AName);
  }
  fBitmap = std::move(bitmap);
  fWidth = static_cast<int>(width);
  fHeight = static_cast<int>(height);
}

void TPicture::Draw(HDC ADC, const RECT& ADest) const {
  if (!fBitmap) {
    return;
  }
  HDC source = CreateCompatibleDC(ADC);
  HGDIOBJ previous = SelectObject(source, fBitmap.Get());
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  SetStretchBltMode(ADC, HALFTONE);
  // gdi32's own entry point, the one msimg32's AlphaBlend forwards to.
  GdiAlphaBlend(ADC, ADest.left, ADest.top, ADest.right - ADest.left, ADest.bottom - ADest.top,
                source, 0, 0, fWidth, fHeight, blend);
  SelectObject(source, previous);
  DeleteDC(source);
}

namespace {

LRESULT CALLBACK PictureProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  switch (AMessage) {
    case WM_ERASEBKGND:
      return 1;  // painted together with the picture, so nothing flickers
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      HDC dc = BeginPaint(AWindow, &paint);
      RECT client{};
      GetClientRect(AWindow, &client);
      auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(AWindow), WM_CTLCOLORSTATIC,
                                                         reinterpret_cast<WPARAM>(dc),
                                                         reinterpret_cast<LPARAM>(AWindow)));
      FillRect(dc, &client, brush != nullptr ? brush : GetSysColorBrush(COLOR_BTNFACE));
      if (const TPicture* picture = GetPicture(AWindow)) {
        picture->Draw(dc, client);
      }
      EndPaint(AWindow, &paint);
      return 0;
    }
    case WM_NCHITTEST:
      return HTTRANSPARENT;  // clicks reach the window below, as on a static picture
    default:
      return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
  }
}

}  // namespace

void RegisterPictureClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  if (GetClassInfoExW(GetModuleHandleW(nullptr), kPictureClass, &windowClass)) {
    return;
  }
  windowClass.lpfnWndProc = PictureProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.lpszClassName = kPictureClass;
  RegisterClassExW(&windowClass);
}

void SetPicture(HWND APictureWindow, const TPicture* APicture) {
  if (GetPicture(APictureWindow) == APicture) {
    return;
  }
  SetWindowLongPtrW(APictureWindow, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(const_cast<TPicture*>(APicture)));
  InvalidateRect(APictureWindow, nullptr, FALSE);
}

const TPicture* GetPicture(HWND APictureWindow) {
  return reinterpret_cast<const TPicture*>(GetWindowLongPtrW(APictureWindow, GWLP_USERDATA));
}

}  // namespace kelvo
