// The icon in the notification area with its menu "Restore" / "Exit". Without a notification
// area the icon is never shown and the window stays the way back in (the caller decides).
// GUI thread only.
#pragma once

#include <QObject>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace kelvo {

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TTrayIcon(QObject* AParent);
  ~TTrayIcon() override;

  // Whether the desktop offers a notification area at all.
  static bool Available();
  // Tests decide whether a notification area exists; nullopt asks the desktop again.
  static void OverrideAvailable(std::optional<bool> AAvailable);

  void Add();     // shows the icon (when there is a notification area)
  void Remove();  // takes it away again
  bool IsShown() const;
  // Several lines; set only when it differs, as some tray hosts redraw on every call.
  void SetToolTip(const QString& AText);
  // The icon's variant for a relay that cannot listen (or has ended): grey with a red mark.
  void SetAlert(bool AAlert);
  bool Alert() const { return fAlert; }

  QSystemTrayIcon& Icon() const { return *fIcon; }
  QMenu& PopupMenu1() const { return *fPopupMenu1; }
  QAction* Restore1 = nullptr;  // owned by the menu
  QAction* Exit1 = nullptr;     // owned by the menu

 signals:
  void ShowRequested();  // left click or "Restore"
  void ExitRequested();  // "Exit"

 private:
  std::unique_ptr<QMenu> fPopupMenu1;  // a menu cannot be the child of a plain QObject
  QSystemTrayIcon* fIcon = nullptr;    // child of this object
  bool fAlert = false;
};

}  // namespace kelvo
