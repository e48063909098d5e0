// A change to the settings given on the command line (--set-adapter, --add-static,
// --remove-static): checked and applied the same way whether this process changes the
// settings file or a running relay takes the change. Portable; owner's thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tables/nat_info_list.h"

namespace kelvo {

class TRegistryStore;
class TRelayHost;

struct TConfigChange {
  enum class TKind { SetAdapter, AddStatic, RemoveStatic };
  TKind Kind = TKind::SetAdapter;
  std::string Argument;
};

// How a command ended: an exit code of the executable (kExitOk, kExitFailure,
// kExitBadCommand) and, unless it is kExitOk, one line saying why.
struct TOutcome {
  int ExitCode = 0;
  std::string Message;
  bool Applied = false;  // a running relay took the change, whether or not it could save it
};

// "NAD,HOST,PORT" in the stored StaticList text form, numbers read as the entry editor reads
// them (the port keeps its low 16 bits). False with AError set when the text is not exactly
// three fields or a number does not parse.
struct TStaticEntryText {
  std::int32_t NAD = 0;
  std::string Host;
  std::uint16_t Port = 0;
};
bool ParseStaticEntryText(const std::string& AText, TStaticEntryText& AEntry, std::string& AError);

// Checks AChange against the machine (the adapter exists, the host resolves) and applies it to
// AAdapterID and AStaticTable. A refusal (kExitBadCommand) leaves both as they were.
TOutcome ApplyConfigChange(const TConfigChange& AChange, std::string& AAdapterID,
                           TNATInfoList& AStaticTable);

// The change applied to a running relay as Setup's OK applies its result (static table,
// adapter, endpoint restart, debug switch kept), then saved at once. Refused (kExitFailure)
// while its settings file cannot be read. A change that leaves the relay unable to listen is
// kept (it is what was asked for) but answered with kExitFailure and the reason.
TOutcome ApplyConfigChangeToRelay(TRelayHost& AHost, const TConfigChange& AChange);
// The tail of every change handed to a running relay: installs AStaticTable, the debug switch
// and the chosen adapter as Setup's OK does, then saves at once (answered as above).
TOutcome ApplyToRelayAndSave(TRelayHost& AHost, std::unique_ptr<TNATInfoList> AStaticTable,
                             bool ACreateDebugLogs, const std::string& AAdapterID);

// The change made to the settings file with no relay running: loaded, changed, saved. A
// stored window position is kept as it is; the file is not written when the change is refused.
TOutcome ApplyConfigChangeToFile(TRegistryStore& AStore, const TConfigChange& AChange);

// Empty when AStore's settings can be read or do not exist yet; otherwise why not (a file that
// is there but unreadable must never be overwritten).
std::string UnreadableSettingsReason(TRegistryStore& AStore);

}  // namespace kelvo
