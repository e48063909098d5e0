// The Setup dialog's state between showing and closing, without any widgets: the adapters
// enumerated for this showing, the working copy of the static list with its rows, and what
// OK hands back. Nothing reaches the relay before Accept; the result then goes to
// TFormLifecycle::ConfirmSetup, which applies and saves it.
// GUI thread only (one dialog at a time uses it).
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/thread_check.h"
#include "net/ethernet_utils.h"
#include "present/editor_conversions.h"
#include "tables/nat_info_list.h"

namespace kelvo {

enum class TStaticColumn { No, NAD, IPAddress, Port };
struct TStaticColumnLook {
  const char* Caption;
  int Width;  // pixels at 96 dpi
};
// lvStatic's columns, in this order.
inline constexpr std::array<TStaticColumnLook, 4> kStaticColumns{{
    {"No.", 36},
    {"NAD", 80},
    {"IP address", 120},
    {"Port", 66},
}};

// A static entry as Setup adds it: the host resolved into its IP now when it can be; when it
// cannot (a name while the network is down, a typo to mend later) the entry is kept all the
// same with an empty IP, exactly as a stored one is kept at load. Forwarding resolves the host
// before every send, so the entry works as soon as the name resolves. May block on the lookup.
std::unique_ptr<TNATInfo> MakeStaticEntry(std::int32_t ANAD, const std::string& AHost,
                                          std::uint16_t APort);

// What an accepted Setup hands to the apply sequence.
struct TSetupResult {
  std::unique_ptr<TNATInfoList> StaticList;  // null only when no showing began
  std::string EthernetAdapterID;             // empty when no adapter was chosen
  bool CreateDebugLogs = false;
};

class TSetupWorkingCopy {
 public:
  TSetupWorkingCopy();
  ~TSetupWorkingCopy();
  TSetupWorkingCopy(const TSetupWorkingCopy&) = delete;
  TSetupWorkingCopy& operator=(const TSetupWorkingCopy&) = delete;

  // FormShow: enumerates the adapters anew and copies AStaticList (an empty never-ageing list
  // when null). AEthernetAdapterID picks the selected adapter line; an ID that no present
  // adapter has gets a last line of its own, "ID (not present)", and is selected; -1 when
  // the ID is empty and no adapter has it.
  void Begin(const TNATInfoList* AStaticList, const std::string& AEthernetAdapterID);
  // Between Begin and Accept or Cancel.
  bool Active() const { return fLocalStaticList != nullptr; }

  // The drop-down list's lines, "description (address)", and the line to select (-1: none).
  const std::vector<std::string>& AdapterLines() const { return fAdapterLines; }
  int SelectedAdapterIndex() const { return fSelectedAdapter; }

  // RefreshStaticList reads these: one row per working-copy entry, in list order.
  int RowCount() const;
  // Empty outside the rows and columns.
  std::string CellText(int ARow, TStaticColumn AColumn) const;

  // acAddExecute after the editor's OK: converts the texts and appends an entry that never
  // expires (MakeStaticEntry: a host that does not resolve is kept). False only outside a
  // showing.
  bool Add(const TEntryTexts& ATexts);
  // acEditExecute: the texts to fill the editor with; none when ARow is not a row.
  std::optional<TEntryTexts> EditTexts(int ARow) const;
  // After the editor's OK: NAD, alias (the same value), host and port change in place; the
  // IP is left alone (forwarding resolves the host again). False when ARow is not a row.
  bool Edit(int ARow, const TEntryTexts& ATexts);
  // acDeleteExecute: removes and frees the entry. False when ARow is not a row.
  bool Delete(int ARow);

  // btnOKClick: the adapter at the selected line (none: empty identifier) and the debug switch
  // go out with the working copy, which this object then no longer holds.
  TSetupResult Accept(int AAdapterIndex, bool ACreateDebugLogs);
  // Cancel, Esc, close box: the working copy is dropped.
  void Cancel();

 private:
  std::unique_ptr<TEthernetAdapterInfoList> fEthAdapters;  // of the last showing
  std::vector<std::string> fAdapterLines;
  int fSelectedAdapter = -1;
  std::string fAbsentAdapterID;  // the last line's, when the chosen adapter is absent
  std::unique_ptr<TNATInfoList> fLocalStaticList;
  TThreadOwner fGuiThread;  // checked in debug builds
};

}  // namespace kelvo
