// Owners of Windows handles (kernel objects, registry keys, icons, windows, GDI objects,
// mapped views, sockets): one template, the closing call a template parameter, so that every handle
// is closed on every path out of its owner, exceptions included. Windows only; movable, one owner
// at a time; any thread, one thread per object (a window is destroyed by the thread that made it).
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <utility>

namespace kelvo {

// TTraits: TValue, Invalid() (what owns nothing), IsValid(AValue) and Close(AValue), true when
// the system closed it without an error.
template <typename TTraits>
class THandleOwner {
 public:
  using TValue = typename TTraits::TValue;

  THandleOwner() = default;
  explicit THandleOwner(TValue AValue) : fValue(AValue) {}
  ~THandleOwner() { Reset(); }
  THandleOwner(const THandleOwner&) = delete;
  THandleOwner& operator=(const THandleOwner&) = delete;
  THandleOwner(THandleOwner&& AOther) noexcept : fValue(AOther.Release()) {}
  THandleOwner& operator=(THandleOwner&& AOther) noexcept {
    if (this != &AOther) {
      Reset(AOther.Release());
    }
    return *this;
  }

  TValue Get() const { return fValue; }
  bool IsValid() const { return TTraits::IsValid(fValue); }
  explicit operator bool() const { return IsValid(); }
  // Closes what is owned (its result ignored) and owns AValue instead.
  void Reset(TValue AValue = TTraits::Invalid()) {
    const TValue Old = std::exchange(fValue, AValue);
    if (TTraits::IsValid(Old)) {
      TTraits::Close(Old);
    }
  }
  // For a file whose last writes a failed close can still lose: false when the close failed
  // (GetLastError says why), true when it succeeded or nothing was owned. Owns nothing
  // afterwards.
  bool Close() {
    const TValue Old = Release();
    return !TTraits::IsValid(Old) || TTraits::Close(Old);
  }
  // Hands the handle to a caller that closes it; owns nothing afterwards.
  TValue Release() { return std::exchange(fValue, TTraits::Invalid()); }
  // For a call that returns a handle through a pointer: closes what is owned and lends the
  // place to write the new one into.
  TValue* Receive() {
    Reset();
    return &fValue;
  }

 private:
  TValue fValue = TTraits::Invalid();
};

// A kernel object: CreateFile answers INVALID_HANDLE_VALUE where the others answer null.
struct TKernelHandleTraits {
  using TValue = HANDLE;
  static TValue Invalid() { return nullptr; }
  static bool IsValid(TValue AValue) { return AValue != nullptr && AValue != INVALID_HANDLE_VALUE; }
  static bool Close(TValue AValue) { return ::CloseHandle(AValue) != FALSE; }
};
using THandle = THandleOwner<TKernelHandleTraits>;

struct TRegKeyTraits {
  using TValue = HKEY;
  static TValue Invalid() { return nullptr; }
  static bool IsValid(TValue AValue) { return AValue != nullptr; }
  static bool Close(TValue AValue) { return ::RegCloseKey(AValue) == ERROR_SUCCESS; }
};
using TRegKey = THandleOwner<TRegKeyTraits>;

struct TIconTraits {
  using TValue = HICON;
  static TValue Invalid() { return nullptr; }
  static bool IsValid(TValue AValue) { return AValue != nullptr; }
  static bool Close(TValue AValue) { return ::DestroyIcon(AValue) != FALSE; }
};
using TIcon = THandleOwner<TIconTraits>;

struct TWindowTraits {
  using TValue = HWND;
  static TValue Invalid() { return nullptr; }
  static bool IsValid(TValue AValue) { return AValue != nullptr; }
  static bool Close(TValue AValue) { return ::DestroyWindow(AValue) != FALSE; }
};
using TWindowHandle = THandleOwner<TWindowTraits>;

// A font, brush or bitmap.
struct TGdiObjectTraits {
  using TValue = HGDIOBJ;
  static TValue Invalid() { return nullptr; }
  static bool IsValid(TValue AValue) { return AValue != nullptr; }
  static bool Close(TValue AValue) { return ::DeleteObject(AValue) != FALSE; }
};

struct TMappedViewTraits {
  using TValue = void*;
  static TValue Invalid() { return nullptr; }
  static bool IsValid(TValue AValue) { return AValue != nullptr; }
  static bool Close(TValue AValue) { return ::UnmapViewOfFile(AValue) != FALSE; }
};
using TMappedView = THandleOwner<TMappedViewTraits>;

struct TSocketTraits {
  using TValue = SOCKET;
  static TValue Invalid() { return INVALID_SOCKET; }
  static bool IsValid(TValue AValue) { return AValue != INVALID_SOCKET; }
  static bool Close(TValue AValue) { return ::closesocket(AValue) == 0; }
};
using TSocketHandle = THandleOwner<TSocketTraits>;

}  // namespace kelvo
