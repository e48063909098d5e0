// The four activity lamps of the main window, run by the shared lamp state machine: each lamp
// has its own window timer on the owner window and shows one of the three lamp pictures, in the
// drawing that suits the window's dpi; its window text names it with its state for screen
// readers.
// GUI thread only.
#pragma once

#include <windows.h>

#include <array>
#include <memory>

#include "present/lamp_pictures.h"
#include "present/lamp_states.h"
#include "ui_win32/picture.h"

namespace kelvo {

class TLampPanel : private TLampDisplay {
 public:
  // ALamps are the picture windows in TLamp order (LANRx, WANRx, LANTx, WANTx); the timers
  // get the identifiers AFirstTimerId.. on AOwner. Loads "LEDRED", "LEDGREEN", "LEDGRAY" drawn
  // for ADpi (throws TPictureError when one is missing or broken).
  TLampPanel(HWND AOwner, const std::array<HWND, kLampCount>& ALamps, UINT_PTR AFirstTimerId,
             int ADpi);
  ~TLampPanel() override;
  TLampPanel(const TLampPanel&) = delete;
  TLampPanel& operator=(const TLampPanel&) = delete;

  void SetLed(TLamp ALamp, TLedColor AColor) { fStates->SetLed(ALamp, AColor); }
  // WM_TIMER: true when AId is one of the lamp timers (timLEDRxLANTimer has then run).
  bool TimerFired(UINT_PTR AId);
  void StopTimers() { fStates->StopTimers(); }
  // The window moved to a screen of another dpi: the drawings for it, each lamp as it was.
  void ReloadPictures(int ADpi);

  const TLampStates& States() const { return *fStates; }
  const TPicture& Picture(TLedColor AColor) const { return fPictures->Picture(AColor); }

 private:
  // One lamp's window timer.
  class TWindowTimer : public TLampTimer {
   public:
    TWindowTimer(HWND AOwner, UINT_PTR AId) : fOwner(AOwner), fId(AId) {}
    void Start() override;
    void Stop() override;

   private:
    HWND fOwner;
    UINT_PTR fId;
  };

  void ShowLamp(TLamp ALamp, TLedColor AColor) override;

  std::array<HWND, kLampCount> fLamps;
  UINT_PTR fFirstTimerId;
  std::array<std::unique_ptr<TWindowTimer>, kLampCount> fTimers;
  std::unique_ptr<TLampStates> fStates;
  std::unique_ptr<TLampPictures<TPicture>> fPictures;
};

}  // namespace kelvo
