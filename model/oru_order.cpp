#include <set>
#include <string>
#include <utility>

#include "model/oru.h"

namespace {

std::string PairKey(int a, int b) { return std::to_string(a) + "=" + std::to_string(b); }

int CountPairsIn(const std::set<std::string>& pairs, const std::vector<int>& ids) {
  int count = 0;
  for (size_t i = 0; i < ids.size(); ++i)
    for (size_t j = i + 1; j < ids.size(); ++j)
      if (pairs.count(PairKey(ids[i], ids[j]))) ++count;
  return count;
}

// 0 for a one-member record, 1 when all members form one paralog family, else 2.
int ModuleClass(const Group& rec) {
  if (rec.proteins.size() == 1) return 0;
  return rec.usize == 1 ? 1 : 2;
}

template <typename T>
void SwapEntries(std::vector<T>& v, size_t i, size_t j) {
  if (i < v.size() && j < v.size()) std::swap(v[i], v[j]);
}

void SwapMembers(Group& rec, size_t i, size_t j) {
  SwapEntries(rec.proteins, i, j);
  SwapEntries(rec.deviance, i, j);
  SwapEntries(rec.nulldevs, i, j);
  SwapEntries(rec.llratios, i, j);
  SwapEntries(rec.postprob, i, j);
  SwapEntries(rec.pgroupid, i, j);
  if (i < rec.grey_out.size() && j < rec.grey_out.size()) {
    const bool grey_i = rec.grey_out[i];
    rec.grey_out[i] = rec.grey_out[j];
    rec.grey_out[j] = grey_i;
  }
}

// Members by deviance ascending, ties by protein id; left alone when any
// member fits (almost) perfectly.
void OrderMembersByDeviance(Group& rec) {
  const size_t n = rec.proteins.size();
  if (rec.deviance.size() < n) return;
  for (size_t i = 0; i < n; ++i)
    if (!(rec.deviance[i] > 0.001)) return;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j) {
      const bool worse = rec.deviance[i] > rec.deviance[j] ||
                         (rec.deviance[i] == rec.deviance[j] && rec.proteins[i] > rec.proteins[j]);
      if (worse) SwapMembers(rec, i, j);
    }
}

}  // namespace

std::vector<int> ORU::ParalogFamilyIds(const std::vector<int>& ids) const {
  const size_t n = ids.size();
  std::vector<int> family_of(n, -1);
  int f = -1;
  for (size_t i = 0; i < n; ++i) {
    if (family_of[i] >= 0) continue;
    std::vector<size_t> family{i};
    std::vector<bool> in_family(n, false);
    in_family[i] = true;
    bool grown = true;
    while (grown) {
      grown = false;
      for (size_t j = 0; j < n; ++j) {
        if (in_family[j]) continue;
        for (size_t a = 0; a < family.size(); ++a) {
          if (!prof.paralogs.count(PairKey(ids[family[a]], ids[j]))) continue;
          family.push_back(j);
          in_family[j] = true;
          grown = true;
          break;
        }
      }
    }
    if (family.size() < 2) continue;
    ++f;
    for (size_t e : family) family_of[e] = f;
  }
  return family_of;
}

std::vector<bool> ORU::GreyedEntries(const std::vector<int>& family_ids) {
  int families = 0;
  for (int id : family_ids)
    if (id + 1 > families) families = id + 1;
  std::vector<bool> seen(families, false), greyed(family_ids.size(), false);
  for (size_t i = 0; i < family_ids.size(); ++i) {
    const int id = family_ids[i];
    if (id < 0) continue;
    if (seen[id])
      greyed[i] = true;
    else
      seen[id] = true;
  }
  return greyed;
}

void ORU::FindParalogs(std::vector<Group>& groups) {
  for (Group& rec : groups) {
    std::vector<int> entries = rec.proteins;
    entries.insert(entries.end(), rec.pred_proteins.begin(), rec.pred_proteins.end());
    rec.pgroupid = ParalogFamilyIds(entries);
    rec.grey_out = GreyedEntries(rec.pgroupid);
    rec.usize = 0;
    rec.umllr = 0;
    rec.upredsize = 0;
    const size_t members = rec.proteins.size();
    for (size_t i = 0; i < members; ++i) {
      if (rec.grey_out[i]) continue;
      ++rec.usize;
      if (i < rec.llratios.size()) rec.umllr += rec.llratios[i];
    }
    if (rec.usize > 0) rec.umllr /= rec.usize;
    for (size_t j = 0; j < rec.pred_proteins.size(); ++j)
      if (!rec.grey_out[members + j] && j < rec.pred_llratios.size() &&
          rec.pred_llratios[j] >= 20.0)
        ++rec.upredsize;
  }
}

double ORU::PresenceScore(const Group& rec) const {
  if (rec.proteins.empty()) return 0.0;
  long long score = 0;
  for (int p : rec.proteins)
    for (int s = 0; s < S; ++s)
      if (XX[p][s]) score += S - s;
  return static_cast<double>(score) / static_cast<double>(rec.proteins.size());
}

void ORU::SortGroupsUni(std::vector<Group>& groups, int sort_method) {
  for (Group& rec : groups) {
    rec.mean_mm = PresenceScore(rec);
    OrderMembersByDeviance(rec);
  }
  for (size_t i = 0; i < groups.size(); ++i)
    for (size_t j = i + 1; j < groups.size(); ++j) {
      const int ci = ModuleClass(groups[i]), cj = ModuleClass(groups[j]);
      const double key_i = sort_method == 1 ? groups[i].strength : groups[i].mean_mm;
      const double key_j = sort_method == 1 ? groups[j].strength : groups[j].mean_mm;
      const bool swap = (cj == 2 && ci != 2) || (ci == 2 && cj == 2 && key_j > key_i) ||
                        (ci == 0 && cj == 0 && groups[j].mean_mm > groups[i].mean_mm);
      if (swap) std::swap(groups[i], groups[j]);
    }
}

void ORU::SortGroups() { SortGroups(groups); }

void ORU::SortGroups(std::vector<Group>& groups) {
  for (size_t i = 0; i < groups.size(); ++i)
    for (size_t j = i + 1; j < groups.size(); ++j) {
      const bool single_i = groups[i].proteins.size() == 1;
      const bool single_j = groups[j].proteins.size() == 1;
      const bool swap = (single_i && !single_j) ||
                        (single_i == single_j && groups[j].strength > groups[i].strength);
      if (swap) std::swap(groups[i], groups[j]);
    }
}

int ORU::CountParalogPairs(std::vector<int> group) { return CountPairsIn(prof.paralogs, group); }

int ORU::CountPFamPairs(std::vector<int> group) { return CountPairsIn(prof.samepfam, group); }
