#include "ui_qt/tray_icon.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/version.h"

namespace kelvo {

namespace {

std::optional<bool> gAvailableOverride;

}  // namespace

TTrayIcon::TTrayIcon(QObject* AParent)
    : QObject(AParent), fPopupMenu1(std::make_unique<QMenu>()), fIcon(new QSystemTrayIcon(this)) {
  setObjectName(QStringLiteral("TrayIcon"));
  fPopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  Restore1 = fPopupMenu1->addAction(QStringLiteral("Restore"));
  Restore1->setObjectName(QStringLiteral("Restore1"));
  Exit1 = fPopupMenu1->addAction(QStringLiteral("Exit"));
  Exit1->setObjectName(QStringLiteral("Exit1"));
  connect(Restore1, &QAction::triggered, this, &TTrayIcon::ShowRequested);
  connect(Exit1, &QAction::triggered, this, &TTrayIcon::ExitRequested);

  fIcon->setIcon(QIcon(QStringLiteral(":/icon.png")));
  fIcon->setToolTip(QString::fromLatin1(kApplicationTitle));
  fIcon->setContextMenu(fPopupMenu1.get());
  // A left click shows the window; a double click is the click it begins with, and the rest
  // (middle button, the context menu's own activation) does nothing here.
  connect(fIcon, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason AReason) {
            if (AReason == QSystemTrayIcon::Trigger) {
              emit ShowRequested();
            }
          });
}

TTrayIcon::~TTrayIcon() {
  fIcon->hide();
  fIcon->setContextMenu(nullptr);
}

bool TTrayIcon::Available() {
  return gAvailableOverride.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TTrayIcon::OverrideAvailable(std::optional<bool> AAvailable) {
  gAvailableOverride = AAvailable;
}

void TTrayIcon::Add() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    fIcon->show();
  }
}

void TTrayIcon::Remove() {
  fIcon->hide();
}

bool TTrayIcon::IsShown() const {
  return fIcon->isVisible();
}

void TTrayIcon::SetAlert(bool AAlert) {
  if (fAlert != AAlert) {
    fAlert = AAlert;
    fIcon->setIcon(
        QIcon(AAlert ? QStringLiteral(":/icon_alert.png") : QStringLiteral(":/icon.png")));
  }
}

void TTrayIcon::SetToolTip(const QString& AText) {
  if (fIcon->toolTip() != AText) {
    fIcon->setToolTip(AText);
  }
}

}  // namespace kelvo
