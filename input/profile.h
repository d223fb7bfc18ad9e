#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

struct PhyloProf {
  int G = 0;
  int S = 0;
  int C = 0;
  int P = 0;
  int CG = 0;
  std::vector<std::string> species_names;
  std::vector<std::string> protein_names;
  std::vector<std::string> protein_entrez;
  std::vector<std::vector<bool>> X;
  std::vector<bool> focus;
  std::string complex_name_all;
  std::vector<std::string> complexes_names;
  std::vector<std::vector<int>> complexes_for_proteins;
  std::vector<std::vector<int>> proteins_for_complexes;
  std::vector<bool> has_complexes;
  std::vector<int> no_complex_proteins;
  std::map<std::string, int> complexes_map;
  std::vector<std::string> pfam_names;
  std::vector<std::vector<int>> pfam_for_protein;
  std::vector<std::vector<int>> protein_for_pfam;
  std::vector<bool> has_pfam;
  std::vector<int> no_pfam_proteins;
  std::map<std::string, int> pfam_map;
  std::map<std::string, int> entrez_to_prot;
  std::map<std::string, std::string> entrez_to_prot_str;
  std::map<std::string, int> protein_map;
  std::set<std::string> paralogs;
  std::set<std::string> samepfam;
  std::vector<int> filters;
  std::vector<bool> complex_name_no_disp;

  void Init(int _G, int _S);
};

PhyloProf LoadPhyloProfiles(std::string profile_path);
// The first species name of the profile that repeats an earlier one once
// both are trimmed and lower-cased, as the tree matching keys them; empty
// when the names are distinct.
std::string RepeatedSpeciesName(const PhyloProf& profile);
PhyloProf LoadComplexes(PhyloProf profile, std::string complex_path);
PhyloProf LoadpFams(PhyloProf profile, std::string pfamdom_path);
PhyloProf LoadParalogys(PhyloProf profile, std::string paralog_path);
PhyloProf LoadFilters(PhyloProf profile, std::string filter_path);
PhyloProf LoadFocuses(PhyloProf profile, std::string focus_path);
