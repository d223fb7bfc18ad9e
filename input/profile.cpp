#include "input/profile.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "input/utils.h"

namespace {

// Line cleaning leaves carriage returns alone; GetLine already dropped the
// one that ends a CR-LF line.
const char* const kBlanks = " \t\n";

std::string Clean(const std::string& text) { return strutils::trim(text, kBlanks); }

std::string CleanUpper(const std::string& text) { return strutils::ToUpperCase(Clean(text)); }

std::string PairKey(int a, int b) { return std::to_string(a) + "=" + std::to_string(b); }

size_t CountTabs(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\t'));
}

bool IsIdColumnName(const std::string& name) {
  return name == "ENTREZ" || name == "SYM" || name == "SYMBOL";
}

void OpenOrDie(std::ifstream& in, const std::string& path, const std::string& message) {
  if (!fileutils::OpenForReading(in, path)) {
    std::cerr << message << std::endl;
    exit(-1);
  }
}

// Returns -1 when the map has no such key.
int Lookup(const std::map<std::string, int>& keys, const std::string& text) {
  const auto it = keys.find(text);
  return it == keys.end() ? -1 : it->second;
}

// Gene sets and domains name genes by id, id alias or symbol.
int FindGeneByAnyName(const PhyloProf& profile, const std::string& text) {
  const int row = Lookup(profile.protein_map, text);
  return row >= 0 ? row : Lookup(profile.entrez_to_prot, text);
}

void MapEveryPart(const std::string& text, int row, std::map<std::string, int>& keys) {
  for (const std::string& part : strutils::split(text, '|')) keys[CleanUpper(part)] = row;
}

void AddRow(PhyloProf& profile, int g, const std::string& line) {
  const std::vector<std::string> f = strutils::split(line, '\t');
  const std::string id = CleanUpper(f[0]);
  profile.protein_entrez.push_back(id);
  if (id.find('|') == std::string::npos) {
    profile.entrez_to_prot[id] = g;
  } else {
    MapEveryPart(id, g, profile.entrez_to_prot);
  }
  profile.protein_map[id] = g;

  std::string name = CleanUpper(f[1]);
  if (name.empty()) name = id;
  if (name.find('|') == std::string::npos) {
    profile.protein_map[name] = g;
  } else {
    MapEveryPart(name, g, profile.protein_map);
  }

  const std::string symbol = Clean(f[1]);
  profile.protein_names.push_back(symbol.empty() ? Clean(f[0]) : symbol);
  for (int s = 0; s < profile.S; ++s) profile.X[g][s] = Clean(f[s + 2]) == "1";
}

// Gives `name` an index (the next one when it is new) and records it for the
// row, at most once.
void AddMembership(const std::string& name, std::vector<std::string>& names,
                   std::map<std::string, int>& index, std::vector<int>& row_list) {
  const auto it = index.find(name);
  if (it == index.end()) {
    const int next = static_cast<int>(names.size());
    names.push_back(name);
    index[name] = next;
    row_list.push_back(next);
  } else if (!ctnutils::Contains(row_list, it->second)) {
    row_list.push_back(it->second);
  }
}

// Turns the per-row lists into ascending member lists per name, flags the
// rows that have any, and appends the others to `none`.
void InvertMemberships(const std::vector<std::vector<int>>& per_row, size_t name_count,
                       std::vector<std::vector<int>>& members, std::vector<bool>& has,
                       std::vector<int>& none) {
  has.assign(per_row.size(), false);
  members.assign(name_count, std::vector<int>());
  for (size_t g = 0; g < per_row.size(); ++g) {
    if (per_row[g].empty()) {
      none.push_back(static_cast<int>(g));
      continue;
    }
    has[g] = true;
    for (int k : per_row[g]) members[k].push_back(static_cast<int>(g));
  }
}

}  // namespace

void PhyloProf::Init(int _G, int _S) {
  G = _G;
  S = _S;
  X.assign(_G, std::vector<bool>(_S, false));
  focus.assign(_G, false);
}

PhyloProf LoadPhyloProfiles(std::string profile_path) {
  std::ifstream in;
  if (!fileutils::OpenForReading(in, profile_path)) {
    std::cerr << "(Error. Cannot open the phylogenetic profile input file: " << profile_path << ")"
              << std::endl;
    exit(1);
  }
  PhyloProf profile;
  std::string line;
  strutils::GetLine(in, line);
  for (const std::string& field : strutils::split(Clean(line), '\t')) {
    const std::string name = CleanUpper(field);
    if (!name.empty() && !IsIdColumnName(name)) profile.species_names.push_back(name);
  }
  const size_t field_count = profile.species_names.size() + 2;

  // A cleaned line neither starts nor ends with a TAB, so it has one field
  // more than it has TABs.
  std::vector<std::string> rows;
  while (strutils::GetLine(in, line)) {
    std::string cleaned = Clean(line);
    if (!cleaned.empty() && CountTabs(cleaned) + 1 == field_count) rows.push_back(std::move(cleaned));
  }

  profile.Init(static_cast<int>(rows.size()), static_cast<int>(profile.species_names.size()));
  for (int g = 0; g < profile.G; ++g) AddRow(profile, g, rows[g]);
  return profile;
}

std::string RepeatedSpeciesName(const PhyloProf& profile) {
  std::set<std::string> keys;
  for (const std::string& name : profile.species_names)
    if (!keys.insert(strutils::ToLowerCase(Clean(name))).second) return name;
  return "";
}

PhyloProf LoadComplexes(PhyloProf profile, std::string complex_path) {
  profile.complexes_for_proteins.assign(profile.G, std::vector<int>());
  std::ifstream in;
  OpenOrDie(in, complex_path, "(Error. Cannot open the complexes annotation file.)");

  std::string line;
  strutils::GetLine(in, line);
  const std::vector<std::string> header = strutils::split(line, '\t');
  profile.complex_name_all = header.size() == 2 ? header[1] : "";

  while (strutils::GetLine(in, line)) {
    const std::string cleaned = Clean(line);
    if (cleaned.empty()) continue;
    const std::vector<std::string> f = strutils::split(cleaned, '\t');
    const std::string gene = CleanUpper(f[0]);
    const bool names_set = f.size() == 2 && !Clean(f[1]).empty();
    const std::string set_name = names_set ? f[1] : profile.complex_name_all;
    const int row = FindGeneByAnyName(profile, gene);
    if (row < 0) {
      std::cerr << "Warning: no " << set_name << " gene " << gene << " found in database."
                << std::endl;
      continue;
    }
    AddMembership(set_name, profile.complexes_names, profile.complexes_map,
                  profile.complexes_for_proteins[row]);
  }

  InvertMemberships(profile.complexes_for_proteins, profile.complexes_names.size(),
                    profile.proteins_for_complexes, profile.has_complexes,
                    profile.no_complex_proteins);
  profile.C = static_cast<int>(profile.complexes_names.size());
  profile.CG = 0;
  for (bool has : profile.has_complexes) profile.CG += has ? 1 : 0;
  profile.complex_name_no_disp.assign(profile.C, false);
  if (profile.C > 1)
    for (int k = 0; k < profile.C; ++k)
      profile.complex_name_no_disp[k] = profile.complexes_names[k] == profile.complex_name_all;
  return profile;
}

PhyloProf LoadpFams(PhyloProf profile, std::string pfamdom_path) {
  profile.pfam_for_protein.assign(profile.G, std::vector<int>());
  std::ifstream in;
  OpenOrDie(in, pfamdom_path, "(Error. Cannot open the pfam domains file.)");

  std::string line;
  strutils::GetLine(in, line);
  while (strutils::GetLine(in, line)) {
    const std::string cleaned = Clean(line);
    if (cleaned.empty()) continue;
    const std::vector<std::string> f = strutils::split(cleaned, '\t');
    if (f.size() != 2) continue;
    const int row = FindGeneByAnyName(profile, CleanUpper(f[0]));
    if (row < 0) continue;
    AddMembership(f[1], profile.pfam_names, profile.pfam_map, profile.pfam_for_protein[row]);
  }

  InvertMemberships(profile.pfam_for_protein, profile.pfam_names.size(), profile.protein_for_pfam,
                    profile.has_pfam, profile.no_pfam_proteins);
  profile.P = static_cast<int>(profile.pfam_names.size());
  for (const std::vector<int>& rows : profile.protein_for_pfam)
    for (size_t i = 0; i < rows.size(); ++i)
      for (size_t j = 0; j < rows.size(); ++j)
        if (i != j) profile.samepfam.insert(PairKey(rows[i], rows[j]));
  return profile;
}

PhyloProf LoadParalogys(PhyloProf profile, std::string paralog_path) {
  std::ifstream in;
  OpenOrDie(in, paralog_path, "(Error. Cannot open the paralogys file.)");
  std::string first, second;
  while (in >> first >> second) {
    const int a = Lookup(profile.entrez_to_prot, CleanUpper(first));
    const int b = Lookup(profile.entrez_to_prot, CleanUpper(second));
    if (a < 0 || b < 0) continue;
    profile.paralogs.insert(PairKey(a, b));
    profile.paralogs.insert(PairKey(b, a));
  }
  return profile;
}

PhyloProf LoadFilters(PhyloProf profile, std::string filter_path) {
  std::ifstream in;
  OpenOrDie(in, filter_path, "(Error. Cannot open the filters file: " + filter_path + ".)");
  std::string id, symbol;
  while (in >> id >> symbol) {
    int row = Lookup(profile.entrez_to_prot, CleanUpper(id));
    if (row < 0) row = Lookup(profile.protein_map, CleanUpper(symbol));
    if (row < 0) continue;
    profile.focus[row] = true;
    profile.filters.push_back(row);
  }
  return profile;
}

PhyloProf LoadFocuses(PhyloProf profile, std::string focus_path) {
  std::ifstream in;
  OpenOrDie(in, focus_path, "(Error. Cannot open the focus proteins file.)");
  std::string line;
  while (strutils::GetLine(in, line)) {
    const std::string gene = CleanUpper(line);
    if (gene.empty()) continue;
    const int row = Lookup(profile.protein_map, gene);
    if (row >= 0) profile.focus[row] = true;
  }
  return profile;
}
