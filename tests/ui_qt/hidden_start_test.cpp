// --hidden, as the start at sign-in runs the program, on a real X display (Xvfb): with a
// notification area the program docks its icon and shows no window until "Restore" in the
// icon's menu; without one the window shows as on any other start. The notification area is a
// small XEmbed tray host of the test's own (it owns the tray selection and takes the dock
// request); the icon and its menu are clicked through xdotool, as a user clicks them.
#include <xcb/xcb.h>

#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kWaitMs = 20000;

struct TRect {
  int X = 0, Y = 0, Width = 0, Height = 0;
};

// One connection to the display, with the lookups the test needs.
class TDisplay {
 public:
  explicit TDisplay(const QString& AName) {
    fConnection = xcb_connect(AName.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(fConnection) == 0) {
      fRoot = xcb_setup_roots_iterator(xcb_get_setup(fConnection)).data->root;
    }
  }
  ~TDisplay() { xcb_disconnect(fConnection); }
  TDisplay(const TDisplay&) = delete;
  TDisplay& operator=(const TDisplay&) = delete;

  bool Connected() const { return xcb_connection_has_error(fConnection) == 0; }
  xcb_connection_t* Connection() const { return fConnection; }
  xcb_window_t Root() const { return fRoot; }

  xcb_atom_t Atom(const char* AName) const {
    auto* reply = xcb_intern_atom_reply(
        fConnection,
        xcb_intern_atom(fConnection, 0, static_cast<std::uint16_t>(std::strlen(AName)), AName),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }

  std::vector<xcb_window_t> TopLevels() const {
    std::vector<xcb_window_t> windows;
    auto* reply = xcb_query_tree_reply(fConnection, xcb_query_tree(fConnection, fRoot), nullptr);
    if (reply != nullptr) {
      const xcb_window_t* children = xcb_query_tree_children(reply);
      windows.assign(children, children + xcb_query_tree_children_length(reply));
      std::free(reply);
    }
    return windows;
  }

  bool Viewable(xcb_window_t AWindow) const {
    auto* reply = xcb_get_window_attributes_reply(
        fConnection, xcb_get_window_attributes(fConnection, AWindow), nullptr);
    const bool viewable = reply != nullptr && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
  }

  // The first 32-bit values or the bytes of a property.
  std::string Property(xcb_window_t AWindow, xcb_atom_t AName) const {
    auto* reply = xcb_get_property_reply(
        fConnection,
        xcb_get_property(fConnection, 0, AWindow, AName, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
        nullptr);
    std::string value;
    if (reply != nullptr) {
      const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply));
      value.assign(bytes, bytes + xcb_get_property_value_length(reply));
      std::free(reply);
    }
    return value;
  }

  TRect Place(xcb_window_t AWindow) const {
    TRect rect;
    auto* geometry =
        xcb_get_geometry_reply(fConnection, xcb_get_geometry(fConnection, AWindow), nullptr);
    auto* origin = xcb_translate_coordinates_reply(
        fConnection, xcb_translate_coordinates(fConnection, AWindow, fRoot, 0, 0), nullptr);
    if (geometry != nullptr && origin != nullptr) {
      rect = {origin->dst_x, origin->dst_y, geometry->width, geometry->height};
    }
    std::free(geometry);
    std::free(origin);
    return rect;
  }

  // The viewable top-level window whose title begins with ACaption, or none.
  xcb_window_t ShownWindow(const std::string& ACaption) const {
    const xcb_atom_t name = Atom("_NET_WM_NAME");
    for (const xcb_window_t window : TopLevels()) {
      if (Viewable(window) && Property(window, name).rfind(ACaption, 0) == 0) {
        return window;
      }
    }
    return XCB_WINDOW_NONE;
  }

  // The top-level windows, one line each, for a failure message.
  std::string Dump() const {
    std::string out;
    const xcb_atom_t name = Atom("_NET_WM_NAME");
    for (const xcb_window_t window : TopLevels()) {
      const TRect r = Place(window);
      out += std::to_string(window) + " '" + Property(window, name) + "' " +
             (Viewable(window) ? "viewable " : "hidden ") + std::to_string(r.X) + "," +
             std::to_string(r.Y) + " " + std::to_string(r.Width) + "x" + std::to_string(r.Height) +
             "\n";
    }
    return out;
  }

  // The program's viewable pop-up (override-redirect) window, such as a menu, or none.
  xcb_window_t ShownPopup() const {
    for (const xcb_window_t window : TopLevels()) {
      auto* reply = xcb_get_window_attributes_reply(
          fConnection, xcb_get_window_attributes(fConnection, window), nullptr);
      const bool popup = reply != nullptr && reply->override_redirect != 0 &&
                         reply->map_state == XCB_MAP_STATE_VIEWABLE;
      std::free(reply);
      if (popup && Property(window, XCB_ATOM_WM_CLASS).rfind("kelvorelay", 0) == 0) {
        return window;
      }
    }
    return XCB_WINDOW_NONE;
  }

 private:
  xcb_connection_t* fConnection = nullptr;
  xcb_window_t fRoot = XCB_WINDOW_NONE;
};

// A notification area as the XEmbed system tray rules describe it: the owner of the selection
// _NET_SYSTEM_TRAY_S0, announced to the clients with a MANAGER message, taking dock requests.
class TTrayHost {
 public:
  explicit TTrayHost(const QString& ADisplay) : fDisplay(ADisplay) {
    xcb_connection_t* c = fDisplay.Connection();
    fWindow = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, fWindow, fDisplay.Root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t selection = fDisplay.Atom("_NET_SYSTEM_TRAY_S0");
    fOpcode = fDisplay.Atom("_NET_SYSTEM_TRAY_OPCODE");
    xcb_set_selection_owner(c, fWindow, selection, XCB_CURRENT_TIME);
    xcb_client_message_event_t manager{};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = fDisplay.Root();
    manager.type = fDisplay.Atom("MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = fWindow;
    xcb_send_event(c, 0, fDisplay.Root(), XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&manager));
    xcb_flush(c);
  }

  // The icon window that asked to be docked, or none yet. A docked icon is embedded as the
  // XEmbed rules say: put into a panel window of the host's, mapped, and told so.
  xcb_window_t DockedIcon() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(fDisplay.Connection())) {
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->type == fOpcode && message->data.data32[1] == 0 /* REQUEST_DOCK */ &&
            fIcon == XCB_WINDOW_NONE) {
          Embed(message->data.data32[2]);
        }
      }
      std::free(event);
    }
    return fIcon;
  }

 private:
  void Embed(xcb_window_t AIcon) {
    xcb_connection_t* c = fDisplay.Connection();
    const xcb_window_t panel = xcb_generate_id(c);
    const std::uint32_t override = 1;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, panel, fDisplay.Root(), 1000, 744, 24, 24, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      &override);
    xcb_map_window(c, panel);
    xcb_reparent_window(c, AIcon, panel, 0, 0);
    xcb_map_window(c, AIcon);
    xcb_client_message_event_t notify{};
    notify.response_type = XCB_CLIENT_MESSAGE;
    notify.format = 32;
    notify.window = AIcon;
    notify.type = fDisplay.Atom("_XEMBED");
    notify.data.data32[0] = XCB_CURRENT_TIME;
    notify.data.data32[1] = 0;  // XEMBED_EMBEDDED_NOTIFY
    notify.data.data32[3] = panel;
    xcb_send_event(c, 0, AIcon, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    xcb_flush(c);
    fIcon = AIcon;
  }

  TDisplay fDisplay;
  xcb_window_t fWindow = XCB_WINDOW_NONE;
  xcb_atom_t fOpcode = XCB_ATOM_NONE;
  xcb_window_t fIcon = XCB_WINDOW_NONE;
};

template <typename T, typename F>
T WaitFor(F AProbe, int ATimeoutMs = kWaitMs) {
  QElapsedTimer clock;
  clock.start();
  T value = AProbe();
  while (!value && clock.elapsed() < ATimeoutMs) {
    QTest::qWait(50);
    value = AProbe();
  }
  return value;
}

}  // namespace

class THiddenStartTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void withATrayOnlyTheIconShowsUntilRestore();
  void withoutATrayTheWindowShows();

 private:
  std::unique_ptr<QProcess> Start(const QStringList& AArgs);
  int Quit();
  void Click(const TRect& ARect, int AFractionY, int AButton);
  QString RelayBinary() const { return fBinDir.filePath(QStringLiteral("kelvorelay")); }

  QTemporaryDir fBinDir;
  QTemporaryDir fHome;
  QTemporaryDir fRuntime;
  QProcess fXvfb;
  QString fDisplayName;
  QString fXdotool;
};

void THiddenStartTest::initTestCase() {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  fXdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
  if (xvfb.isEmpty() || fXdotool.isEmpty()) {
    QSKIP("needs Xvfb and xdotool (scripts/install-deps.sh package)");
  }
  QVERIFY(fBinDir.isValid() && fHome.isValid() && fRuntime.isValid());
  const QString built = QFileInfo(QStringLiteral(KELVO_RELAY_EXECUTABLE)).canonicalFilePath();
  if (::link(built.toLocal8Bit().constData(), RelayBinary().toLocal8Bit().constData()) != 0) {
    QVERIFY(QFile::copy(built, RelayBinary()));
  }
  // A display number of our own: the first one from here that Xvfb can take. It must not reset
  // when its last client goes, or a connection made meanwhile finds no server.
  for (int number = 140 + ::getpid() % 400; fDisplayName.isEmpty() && number < 1000; ++number) {
    if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))) {
      continue;
    }
    const QString name = QStringLiteral(":%1").arg(number);
    fXvfb.start(
        xvfb, {name, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
               QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
    QVERIFY(fXvfb.waitForStarted(5000));
    const bool up = WaitFor<bool>(
        [&] { return fXvfb.state() != QProcess::Running || TDisplay(name).Connected(); }, 10000);
    if (up && fXvfb.state() == QProcess::Running) {
      fDisplayName = name;
    } else {
      fXvfb.waitForFinished(5000);
    }
  }
  QVERIFY2(!fDisplayName.isEmpty(), "Xvfb did not start");
}

void THiddenStartTest::cleanupTestCase() {
  if (fXvfb.state() == QProcess::Running) {
    fXvfb.terminate();
    fXvfb.waitForFinished(5000);
  }
}

std::unique_ptr<QProcess> THiddenStartTest::Start(const QStringList& AArgs) {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), fDisplayName);
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), fHome.path());
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), fRuntime.path());
  // The XEmbed tray alone: no status-notifier host on a session bus, no desktop's theme.
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_CURRENT_DESKTOP", "WAYLAND_DISPLAY",
                           "QT_QPA_PLATFORMTHEME"}) {
    environment.remove(QString::fromLatin1(name));
  }
  environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                     QStringLiteral("unix:path=/nonexistent"));
  process->setProcessEnvironment(environment);
  process->setProcessChannelMode(QProcess::MergedChannels);
  process->start(RelayBinary(), AArgs);
  return process;
}

int THiddenStartTest::Quit() {
  auto quit = Start({QStringLiteral("--quit")});
  return quit->waitForFinished(30000) ? quit->exitCode() : -1;
}

// A click with AButton inside ARect, at its middle across and AFractionY / 4 of its height.
void THiddenStartTest::Click(const TRect& ARect, int AFractionY, int AButton) {
  QProcess xdotool;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), fDisplayName);
  xdotool.setProcessEnvironment(environment);
  xdotool.start(fXdotool, {QStringLiteral("mousemove"), QString::number(ARect.X + ARect.Width / 2),
                           QString::number(ARect.Y + ARect.Height * AFractionY / 4),
                           QStringLiteral("click"), QString::number(AButton)});
  QVERIFY(xdotool.waitForFinished(10000));
  QCOMPARE(xdotool.exitCode(), 0);
}

void THiddenStartTest::withATrayOnlyTheIconShowsUntilRestore() {
  TTrayHost tray(fDisplayName);
  TDisplay display(fDisplayName);
  auto relay = Start({QStringLiteral("--hidden")});
  QVERIFY(relay->waitForStarted(5000));

  const xcb_window_t icon = WaitFor<xcb_window_t>([&] { return tray.DockedIcon(); });
  QVERIFY2(icon != XCB_WINDOW_NONE, (display.Dump() + relay->readAll().toStdString()).c_str());
  QVERIFY(WaitFor<bool>([&] { return display.Viewable(icon); }));

  // The icon's menu opens only once the message loop runs, after the window would have shown.
  Click(display.Place(icon), 2, 3);
  const xcb_window_t menu = WaitFor<xcb_window_t>([&] { return display.ShownPopup(); });
  QVERIFY2(menu != XCB_WINDOW_NONE, ("the icon's menu did not open\n" + display.Dump()).c_str());
  QCOMPARE(display.ShownWindow("KelvoRelay v"), XCB_WINDOW_NONE);

  // "Restore", the first of its two items.
  Click(display.Place(menu), 1, 1);
  QVERIFY2(
      WaitFor<xcb_window_t>([&] { return display.ShownWindow("KelvoRelay v"); }) != XCB_WINDOW_NONE,
      "Restore did not show the window");
  QCOMPARE(relay->state(), QProcess::Running);

  QCOMPARE(Quit(), 0);
  QVERIFY(relay->waitForFinished(10000));
  QCOMPARE(relay->exitCode(), 0);
}

void THiddenStartTest::withoutATrayTheWindowShows() {
  TDisplay display(fDisplayName);
  auto relay = Start({QStringLiteral("--hidden")});
  QVERIFY(relay->waitForStarted(5000));
  QVERIFY2(
      WaitFor<xcb_window_t>([&] { return display.ShownWindow("KelvoRelay v"); }) != XCB_WINDOW_NONE,
      (display.Dump() + relay->readAll().toStdString()).c_str());
  QCOMPARE(Quit(), 0);
  QVERIFY(relay->waitForFinished(10000));
  QCOMPARE(relay->exitCode(), 0);
}

QTEST_GUILESS_MAIN(THiddenStartTest)
#include "hidden_start_test.moc"
