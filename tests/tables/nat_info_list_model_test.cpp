// The indexed table against a plain list that answers every question by walking from the
// front, over long seeded sequences of random operations.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "tables/nat_info_list.h"

namespace kelvo {
namespace {

// One reference row: the table's entry it stands for, and the fields it must have.
struct TModelRow {
  const TNATInfo* Entry;
  std::int32_t NAD;
  std::int32_t NADAlias;
  std::string IP;
  std::uint16_t Port;
  std::int32_t Timeout;
};

// Every lookup a linear walk; alias allocation probes one value after another.
class TLinearModel {
 public:
  explicit TLinearModel(std::int32_t ATimeout) : fTimeout(ATimeout) {}

  template <class TMatch>
  const TModelRow* First(TMatch AMatch) const {
    for (const auto& Row : Rows) {
      if (AMatch(Row)) {
        return &Row;
      }
    }
    return nullptr;
  }
  TModelRow* Find(const TNATInfo* AEntry) {
    for (auto& Row : Rows) {
      if (Row.Entry == AEntry) {
        return &Row;
      }
    }
    return nullptr;
  }
  std::int32_t NextAlias(std::int32_t ANAD) const {
    std::uint32_t Alias = static_cast<std::uint32_t>(ANAD);
    while (
        First([&](const TModelRow& R) { return R.NADAlias == static_cast<std::int32_t>(Alias); })) {
      ++Alias;
    }
    return static_cast<std::int32_t>(Alias);
  }
  void AgeOneStep() {
    std::vector<TModelRow> Kept;
    for (auto& Row : Rows) {
      if (Row.Timeout > 1) {
        --Row.Timeout;
        Kept.push_back(Row);
      }
    }
    Rows = std::move(Kept);
  }

  std::vector<TModelRow> Rows;
  std::int32_t fTimeout;
};

// Values crowded around the wrap from 4294967295 to 0 and around one ordinary NAD, so that
// aliases form runs that touch, wrap and break.
std::int32_t PickNAD(std::mt19937& ARandom) {
  static constexpr std::int32_t kNADs[] = {-4, -3, -2, -1, 0, 1, 2, 100, 101, 102, 104};
  return kNADs[ARandom() % std::size(kNADs)];
}

std::string PickIP(std::mt19937& ARandom) {
  static const char* const kIPs[] = {"10.0.0.1", "10.0.0.2", "192.168.1.20", "192.168.001.020"};
  return kIPs[ARandom() % std::size(kIPs)];
}

std::uint16_t PickPort(std::mt19937& ARandom) {
  return static_cast<std::uint16_t>(1000 + ARandom() % 4);
}

class TModelRun {
 public:
  explicit TModelRun(unsigned ASeed) : fRandom(ASeed) {}

  void Step() {
    const unsigned Op = fRandom() % 100;
    if (Op < 45) {
      UpdateByNAD();
    } else if (Op < 52) {
      UpdateByIPAndPort();
    } else if (Op < 62) {
      RemoveOne();
    } else if (Op < 68) {
      AddWithChosenAlias();
    } else if (Op < 78) {
      WriteKeyField();
    } else if (Op < 85) {
      SetSomeTimeout();
    } else if (Op < 93) {
      Age();
    } else if (Op < 97) {
      AgeInSlices();
    } else if (Op < 98) {
      fTable.Clear();
      fModel.Rows.clear();
    } else {
      Duplicate();
    }
  }

  // Everything the table answers, held against the walk.
  void Check() {
    ASSERT_EQ(fTable.Count(), static_cast<int>(fModel.Rows.size()));
    for (int I = 0; I < fTable.Count(); ++I) {
      const TModelRow& Row = fModel.Rows[static_cast<std::size_t>(I)];
      const TNATInfo* Item = fTable.Items(I);
      ASSERT_EQ(Item, Row.Entry) << "list order at " << I;
      ASSERT_EQ(Item->NAD(), Row.NAD);
      ASSERT_EQ(Item->NADAlias(), Row.NADAlias);
      ASSERT_EQ(Item->IP(), Row.IP);
      ASSERT_EQ(Item->Port(), Row.Port);
      ASSERT_EQ(Item->Timeout(), Row.Timeout);
      ASSERT_EQ(fTable.IndexOf(Item), I);
    }
    for (int Probe = 0; Probe < 6; ++Probe) {
      const std::int32_t NAD = PickNAD(fRandom);
      const std::string IP = PickIP(fRandom);
      const std::uint16_t Port = PickPort(fRandom);
      ASSERT_EQ(fTable.FindByNAD(NAD),
                Entry(fModel.First([&](const TModelRow& R) { return R.NAD == NAD; })));
      ASSERT_EQ(fTable.FindByNADAlias(NAD),
                Entry(fModel.First([&](const TModelRow& R) { return R.NADAlias == NAD; })));
      ASSERT_EQ(
          fTable.FindByIPAndPort(IP, Port),
          Entry(fModel.First([&](const TModelRow& R) { return R.IP == IP && R.Port == Port; })));
      ASSERT_EQ(fTable.FindByNADIPAndPort(NAD, IP, Port),
                Entry(fModel.First([&](const TModelRow& R) {
                  return R.NAD == NAD && R.IP == IP && R.Port == Port;
                })));
    }
  }

 private:
  static const TNATInfo* Entry(const TModelRow* ARow) { return ARow ? ARow->Entry : nullptr; }

  void UpdateByNAD() {
    const std::int32_t NAD = PickNAD(fRandom);
    const std::string IP = PickIP(fRandom);
    const std::uint16_t Port = PickPort(fRandom);
    const TModelRow* Known = fModel.First(
        [&](const TModelRow& R) { return R.NAD == NAD && R.IP == IP && R.Port == Port; });
    const std::int32_t Alias = fModel.NextAlias(NAD);
    TNATInfo* Got = fTable.UpdateByNAD(NAD, IP, Port);
    ASSERT_NE(Got, nullptr);
    if (Known != nullptr) {
      ASSERT_EQ(Got, Known->Entry);
      fModel.Find(Got)->Timeout = fModel.fTimeout;
    } else {
      ASSERT_EQ(Got->NADAlias(), Alias) << "NAD " << NAD;
      fModel.Rows.push_back({Got, NAD, Alias, IP, Port, fModel.fTimeout});
    }
  }

  void UpdateByIPAndPort() {
    const std::int32_t NAD = PickNAD(fRandom);
    const std::string IP = PickIP(fRandom);
    const std::uint16_t Port = PickPort(fRandom);
    const TModelRow* Known =
        fModel.First([&](const TModelRow& R) { return R.IP == IP && R.Port == Port; });
    const TNATInfo* Entry = Known ? Known->Entry : nullptr;
    fTable.UpdateByIPAndPort(NAD, IP, Port);
    if (Entry != nullptr) {
      fModel.Find(Entry)->Timeout = fModel.fTimeout;
    } else {
      const TNATInfo* Added = fTable.Items(fTable.Count() - 1);
      ASSERT_NE(Added, nullptr);
      fModel.Rows.push_back({Added, NAD, NAD, IP, Port, fModel.fTimeout});
    }
  }

  // Often from the middle of a run of aliases.
  void RemoveOne() {
    if (fModel.Rows.empty()) {
      return;
    }
    const std::size_t At = fRandom() % fModel.Rows.size();
    const TNATInfo* Entry = fModel.Rows[At].Entry;
    int Index = -2;
    std::unique_ptr<TNATInfo> Taken = fTable.Remove(Entry, &Index);
    ASSERT_EQ(Taken.get(), Entry);
    ASSERT_EQ(Index, static_cast<int>(At));
    fModel.Rows.erase(fModel.Rows.begin() + static_cast<std::ptrdiff_t>(At));
    // Taken out, the entry is free to change without touching the table.
    Taken->SetNADAlias(Taken->NADAlias() + 1);
    ASSERT_EQ(fTable.IndexOf(Taken.get()), -1);
    ASSERT_EQ(fTable.Remove(Taken.get()), nullptr);
  }

  // Entries added by other means may share an alias with others.
  void AddWithChosenAlias() {
    auto Item = std::make_unique<TNATInfo>(PickNAD(fRandom), PickIP(fRandom), PickPort(fRandom),
                                           fModel.fTimeout);
    Item->SetNADAlias(PickNAD(fRandom));
    const TNATInfo* Entry = Item.get();
    fModel.Rows.push_back(
        {Entry, Item->NAD(), Item->NADAlias(), Item->IP(), Item->Port(), Item->Timeout()});
    const int Index = fTable.Add(std::move(Item));
    ASSERT_EQ(Index, fTable.Count() - 1);
  }

  // As Setup edits its copy of the static table, and routing writes IP.
  void WriteKeyField() {
    if (fModel.Rows.empty()) {
      return;
    }
    TModelRow& Row = fModel.Rows[fRandom() % fModel.Rows.size()];
    TNATInfo& Item = *fTable.Items(fTable.IndexOf(Row.Entry));
    switch (fRandom() % 5) {
      case 0:
        Row.NAD = PickNAD(fRandom);
        Item.SetNAD(Row.NAD);
        break;
      case 1:
        Row.NADAlias = PickNAD(fRandom);
        Item.SetNADAlias(Row.NADAlias);
        break;
      case 2:
        Row.IP = PickIP(fRandom);
        Item.SetIP(Row.IP);
        break;
      case 3:
        Row.Port = PickPort(fRandom);
        Item.SetPort(Row.Port);
        break;
      default: {
        const TNATInfo& Other = *fModel.Rows[fRandom() % fModel.Rows.size()].Entry;
        const TNATInfo Copy(Other);
        Item.Assign(Copy);
        Row = {Row.Entry, Copy.NAD(), Copy.NADAlias(), Copy.IP(), Copy.Port(), Copy.Timeout()};
        break;
      }
    }
  }

  void SetSomeTimeout() {
    if (fModel.Rows.empty()) {
      return;
    }
    TModelRow& Row = fModel.Rows[fRandom() % fModel.Rows.size()];
    Row.Timeout = static_cast<std::int32_t>(fRandom() % 4);  // 0 or 1 goes at the next step
    fTable.Items(fTable.IndexOf(Row.Entry))->SetTimeout(Row.Timeout);
  }

  void Age() {
    fClock.Advance(1000);
    fTable.AgeEntries();
    fModel.AgeOneStep();
  }

  // The same step a few entries at a time gives what one whole step gives.
  void AgeInSlices() {
    fClock.Advance(1000);
    ASSERT_TRUE(fTable.BeginAgeingStep());
    const int Slice = 1 + static_cast<int>(fRandom() % 4);
    std::vector<std::unique_ptr<TNATInfo>> Gone;
    for (int Round = 0; !fTable.ContinueAgeingStep(Slice, Gone); ++Round) {
      ASSERT_LT(Round, 1000);
    }
    const std::size_t Before = fModel.Rows.size();
    fModel.AgeOneStep();
    ASSERT_EQ(Gone.size(), Before - fModel.Rows.size());
  }

  // The copy answers like the source; the source goes on as before.
  void Duplicate() {
    const auto Copy = fTable.Duplicate();
    ASSERT_EQ(Copy->Count(), fTable.Count());
    for (const auto& Row : fModel.Rows) {
      const TNATInfo* First =
          fModel.First([&](const TModelRow& R) { return R.NAD == Row.NAD; })->Entry;
      ASSERT_EQ(Copy->IndexOf(Copy->FindByNAD(Row.NAD)), fTable.IndexOf(First));
      const TNATInfo* ByAlias =
          fModel.First([&](const TModelRow& R) { return R.NADAlias == Row.NADAlias; })->Entry;
      ASSERT_EQ(Copy->IndexOf(Copy->FindByNADAlias(Row.NADAlias)), fTable.IndexOf(ByAlias));
    }
  }

  std::mt19937 fRandom;
  test::TFakeClock fClock;
  TNATInfoList fTable{5, fClock};
  TLinearModel fModel{5};
};

TEST(TNATInfoListModel, AgreesWithALinearWalkOverRandomOperations) {
  for (unsigned Seed = 1; Seed <= 40; ++Seed) {
    SCOPED_TRACE("seed " + std::to_string(Seed));
    TModelRun Run(Seed);
    for (int Step = 0; Step < 2000; ++Step) {
      Run.Step();
      Run.Check();
      if (::testing::Test::HasFatalFailure()) {
        return;
      }
    }
  }
}

}  // namespace
}  // namespace kelvo
