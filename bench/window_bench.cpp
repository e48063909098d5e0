// The main window's status tick on the GUI thread at table sizes up to the tables' bound:
// the snapshot, the lists' model reset, and the layout and paint that follow, offscreen.
//
// window_bench [ticks]   (default 20 ticks per case; QT_QPA_PLATFORM defaults to offscreen)
#include <QApplication>
#include <QProgressBar>
#include <QTableView>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tables/address_tables.h"
#include "ui_qt/gui_resources.h"
#include "ui_qt/main_window_layout.h"
#include "ui_qt/status_model.h"
#include "ui_qt/status_presenter.h"

namespace kelvo {
namespace {

using TClockType = std::chrono::steady_clock;

double MsSince(TClockType::time_point AStart) {
  return std::chrono::duration<double, std::milli>(TClockType::now() - AStart).count();
}

// CPU time of this (the GUI) thread, which a busy machine does not inflate the way it does
// wall-clock time.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::string IPOf(int AIndex) {
  return "10." + std::to_string((AIndex >> 16) & 0xFF) + "." +
         std::to_string((AIndex >> 8) & 0xFF) + "." + std::to_string(AIndex & 0xFF);
}

void Fill(TNATInfoList& ATable, int ACount, std::int32_t ATimeout, int AFirstNAD) {
  for (int i = 0; i < ACount; ++i) {
    auto entry =
        std::make_unique<TNATInfo>(AFirstNAD + i % 50, IPOf(i), 40000 + i % 20000, ATimeout);
    entry->SetNADAlias(AFirstNAD + i);
    ATable.Add(std::move(entry));
  }
}

struct TStats {
  double Min = 0;
  double Median = 0;
  double Max = 0;
};

TStats StatsOf(std::vector<double> ASamples) {
  std::sort(ASamples.begin(), ASamples.end());
  return {ASamples.front(), ASamples[ASamples.size() / 2], ASamples.back()};
}

void RunCase(const char* AName, int ANATRows, int AStaticRows, int APushRows, int ATicks) {
  QWidget window;
  TMainWindowUi ui;
  ui.Setup(&window);
  window.resize(kDesignClientWidth, kDesignClientHeight);
  ui.FormResize(window.size());
  window.show();
  TStatusPresenter presenter(*ui.ListModel1, *ui.ListModel2, *ui.Gauge1, *ui.lblMsgCount);

  TAddressTables tables;
  {
    const TAddressTables::TLock lock(tables);
    Fill(*tables.fNATTable, ANATRows, kNATTableTimeout, 100);
    Fill(*tables.fStaticTable, AStaticRows, kStaticTableTimeout, 1000000);
    Fill(*tables.fPushTable, APushRows, kPushTableTimeout, 2000000);
  }
  QCoreApplication::processEvents();

  std::vector<double> snapshot;
  std::vector<double> tick;
  std::vector<double> shown;
  std::vector<double> shownCpu;
  for (int i = 0; i < ATicks; ++i) {
    auto start = TClockType::now();
    (void)tables.Snapshot();
    snapshot.push_back(MsSince(start));

    start = TClockType::now();
    const double cpuStart = ThreadCpuMs();
    presenter.Tick(i, tables);
    tick.push_back(MsSince(start));
    // What the event loop does next: the views lay out their rows and paint the visible ones.
    QCoreApplication::processEvents();
    window.repaint();
    shown.push_back(MsSince(start));
    shownCpu.push_back(ThreadCpuMs() - cpuStart);
  }
  const int rows1 = ui.ListModel1->rowCount();
  const int rows2 = ui.ListModel2->rowCount();
  const TStats s = StatsOf(snapshot);
  const TStats t = StatsOf(tick);
  const TStats p = StatsOf(shown);
  const TStats c = StatsOf(shownCpu);
  std::printf(
      "%-24s rows %6d + %6d | snapshot %5.2f/%5.2f/%5.2f | tick %5.2f/%5.2f/%5.2f |"
      " tick+paint %5.2f/%5.2f/%5.2f | its CPU %5.2f/%5.2f/%5.2f\n",
      AName, rows1, rows2, s.Min, s.Median, s.Max, t.Min, t.Median, t.Max, p.Min, p.Median, p.Max,
      c.Min, c.Median, c.Max);
}

}  // namespace
}  // namespace kelvo

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  kelvo::InitGuiResources();
  QApplication app(argc, argv);
  std::printf(
      "window_bench: %d ticks per case, ms min/median/max; snapshot: the tables' copy alone; "
      "tick: snapshot and model reset; tick+paint: until both lists are drawn (goal: well under "
      "20 ms at 100,000 rows)\n",
      ticks);
  kelvo::RunCase("1,000 applications", 1000, 10, 100, ticks);
  kelvo::RunCase("20,000 applications", 20000, 10, 100, ticks);
  kelvo::RunCase("100,000 applications", 100000, 10, 100, ticks);
  kelvo::RunCase("100,000 in every table", 100000, 100000, 100000, ticks);
  return 0;
}
