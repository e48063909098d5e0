#include "tables/nat_info_index.h"

#include <limits>

namespace kelvo {

namespace {
constexpr std::uint32_t kLastValue = std::numeric_limits<std::uint32_t>::max();
}  // namespace

std::map<std::uint32_t, std::uint32_t>::const_iterator TAliasRuns::RunOf(
    std::uint32_t AValue) const {
  auto After = fRuns.upper_bound(AValue);
  if (After == fRuns.begin()) {
    return fRuns.end();
  }
  const auto Run = std::prev(After);
  return Run->second >= AValue ? Run : fRuns.end();
}

void TAliasRuns::Take(std::uint32_t AValue) {
  // Joins the run ending just below and the run starting just above, if there are any.
  auto Next = fRuns.end();
  if (AValue != kLastValue) {
    Next = fRuns.find(AValue + 1);
  }
  auto After = fRuns.upper_bound(AValue);
  if (AValue != 0 && After != fRuns.begin()) {
    const auto Before = std::prev(After);
    if (Before->second == AValue - 1) {
      if (Next != fRuns.end()) {
        Before->second = Next->second;
        fRuns.erase(Next);
      } else {
        Before->second = AValue;
      }
      return;
    }
  }
  if (Next != fRuns.end()) {
    const std::uint32_t Last = Next->second;
    fRuns.erase(Next);
    fRuns.emplace(AValue, Last);
  } else {
    fRuns.emplace(AValue, AValue);
  }
}

void TAliasRuns::Free(std::uint32_t AValue) {
  const auto Found = RunOf(AValue);
  if (Found == fRuns.end()) {
    return;
  }
  const std::uint32_t First = Found->first;
  const std::uint32_t Last = Found->second;
  fRuns.erase(Found);
  if (First < AValue) {
    fRuns.emplace(First, AValue - 1);
  }
  if (AValue < Last) {
    fRuns.emplace(AValue + 1, Last);
  }
}

std::uint32_t TAliasRuns::FirstFreeFrom(std::uint32_t AFrom) const {
  auto Run = RunOf(AFrom);
  if (Run == fRuns.end()) {
    return AFrom;
  }
  if (Run->second != kLastValue) {
    return Run->second + 1;  // runs are maximal, so the value after one is free
  }
  // The run reaches 4294967295: carry on from 0, whose run (if any) cannot reach round again.
  Run = RunOf(0);
  return Run == fRuns.end() ? 0 : Run->second + 1;
}

}  // namespace kelvo
