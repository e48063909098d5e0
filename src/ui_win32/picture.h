// PNG pictures from the executable's raw-data resources, decoded with WIC into premultiplied
// 32-bit bitmaps, and the picture control that shows one with its transparency over whatever
// background its parent gives it (the parent's WM_CTLCOLORSTATIC brush). GUI thread only.
#pragma once

#include <windows.h>

#include <stdexcept>

#include "base/handle_win.h"

namespace kelvo {

class TPictureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TPicture {
 public:
  TPicture() = default;
  // Decodes the RCDATA resource AName of this executable; throws TPictureError.
  explicit TPicture(const wchar_t* AName);
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  bool Empty() const { return !fBitmap; }
  int Width() const { return fWidth; }
  int Height() const { return fHeight; }
  HBITMAP Bitmap() const { return static_cast<HBITMAP>(fBitmap.Get()); }
  // Draws the picture stretched into ADest with its alpha channel.
  void Draw(HDC ADC, const RECT& ADest) const;

 private:
  THandleOwner<TGdiObjectTraits> fBitmap;
  int fWidth = 0;
  int fHeight = 0;
};

// Window class "KelvoPicture": a child that shows a TPicture (not owned) stretched to its size.
inline constexpr wchar_t kPictureClass[] = L"KelvoPicture";
void RegisterPictureClass();
// Shows APicture (null: only the background) and repaints.
void SetPicture(HWND APictureWindow, const TPicture* APicture);
const TPicture* GetPicture(HWND APictureWindow);

}  // namespace kelvo
