#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>

#include "model/oru.h"

namespace {

long long Pairs(long long n) { return n < 2 ? 0 : n * (n - 1) / 2; }

double Ratio(double num, double den) { return den != 0 ? num / den : 0.0; }

template <typename T>
void WriteLines(std::ofstream& out, const std::vector<T>& values) {
  for (const T& v : values) out << v << "\n";
}

// Tab-separated fields, no tab after the last one.
class Row {
 public:
  explicit Row(std::ostream& out) : out_(out) {}
  template <typename T>
  Row& operator<<(const T& v) {
    if (fields_++ > 0) out_ << "\t";
    out_ << v;
    return *this;
  }

 private:
  std::ostream& out_;
  int fields_ = 0;
};

}  // namespace

int ORU::NumGeneSets() const {
  return std::min({prof.C, static_cast<int>(prof.proteins_for_complexes.size()),
                   static_cast<int>(prof.complexes_names.size())});
}

bool ORU::IsGeneSet(int set) const { return set >= 0 && set < NumGeneSets(); }

std::vector<int> ORU::UniqueGenesPerSet() const {
  std::vector<int> uni(NumGeneSets(), 0);
  for (int set = 0; set < NumGeneSets(); ++set) {
    const std::vector<bool> greyed = GreyedEntries(ParalogFamilyIds(prof.proteins_for_complexes[set]));
    for (bool grey : greyed)
      if (!grey) ++uni[set];
  }
  return uni;
}

ORU::PairShares ORU::SharesPerSet(const std::vector<Group>& groups, PairCounter count) {
  const int sets = NumGeneSets();
  PairShares shares;
  shares.set.assign(sets, 0.0);
  shares.ecm.assign(sets, 0.0);
  shares.ep.assign(sets, 0.0);
  for (int set = 0; set < sets; ++set) {
    const std::vector<int>& list = prof.proteins_for_complexes[set];
    if (list.size() >= 2)
      shares.set[set] = static_cast<double>((this->*count)(list)) / static_cast<double>(Pairs(list.size()));
    long long ecm_hits = 0, ecm_pairs = 0, ep_hits = 0, ep_pairs = 0;
    for (const Group& rec : groups) {
      if (rec.c != set) continue;
      std::vector<int> joined = rec.proteins;
      joined.insert(joined.end(), rec.pred_proteins.begin(), rec.pred_proteins.end());
      ecm_hits += (this->*count)(rec.proteins);
      ecm_pairs += Pairs(rec.proteins.size());
      ep_hits += (this->*count)(joined);
      ep_pairs += Pairs(joined.size());
    }
    shares.ecm[set] = Ratio(static_cast<double>(ecm_hits), static_cast<double>(ecm_pairs));
    shares.ep[set] = Ratio(static_cast<double>(ep_hits), static_cast<double>(ep_pairs));
  }
  return shares;
}

void ORU::SaveGroupsBinary(std::string path) {
  std::ofstream out(path);
  out << c << "\n" << groups.size() << "\n";
  for (const Group& rec : groups) {
    out << rec.proteins.size() << "\n";
    WriteLines(out, rec.proteins);
    WriteLines(out, rec.deviance);
    WriteLines(out, rec.llratios);
    WriteLines(out, rec.postprob);
    out << rec.glink << "\n";
    WriteLines(out, rec.mq);
    WriteLines(out, rec.mp);
    WriteLines(out, rec.ma);
    out << rec.pred_proteins.size() << "\n";
    WriteLines(out, rec.pred_proteins);
    WriteLines(out, rec.pred_llratios);
    WriteLines(out, rec.pred_deviance);
    out << rec.num_preds << "\n";
    out << rec.mean_dev << "\n" << rec.mean_llr << "\n" << rec.strength << "\n" << rec.mean_ps << "\n"
        << rec.mean_mm << "\n" << rec.mean_nmm << "\n";
  }
}

void ORU::OutputSummaryECM(std::vector<Group> groups, std::string output_path) {
  std::vector<Group> kept;
  for (Group& rec : groups) {
    if (rec.strength < 0.0 || rec.proteins.size() < 2)
      null_group.insert(null_group.end(), rec.proteins.begin(), rec.proteins.end());
    else
      kept.push_back(rec);
  }
  const std::vector<int> uni = UniqueGenesPerSet();

  std::ofstream stats(output_path + "_ecm_stats.txt");
  stats.precision(4);
  stats << "ECM ID\tGene set\tGene set ID\tNo. ECM\tNum Unique Gene Set Genes\tNum Unique ECM Genes\t"
           "Num High Quality Predicted Genes\tStrength\n";
  std::vector<int> rank(NumGeneSets(), 0);
  for (size_t k = 0; k < kept.size(); ++k) {
    const Group& rec = kept[k];
    // A record of the all-genes selection names no set and has no row here.
    if (!IsGeneSet(rec.c)) continue;
    ++rank[rec.c];
    Row(stats) << k + 1 << prof.complexes_names[rec.c] << rec.c + 1 << rank[rec.c] << uni[rec.c]
               << rec.usize << rec.upredsize << rec.strength;
    stats << "\n";
  }
  stats.close();

  std::ofstream sizes(output_path + "_ecm_stats_p.txt");
  sizes.precision(4);
  sizes << "ECM ID\tGene Set ID\tNum Genes\tNum Unique Genes\tStrength\n";
  for (size_t p = 0; p < kept.size(); ++p) {
    const Group& rec = kept[p];
    if (rec.proteins.size() < 2) continue;
    Row(sizes) << p + 1 << rec.c + 1 << rec.proteins.size() << rec.usize << rec.strength;
    sizes << "\n";
  }
}

void ORU::OutputSummary(std::vector<Group> groups, std::string output_path) {
  const int sets = NumGeneSets();
  std::vector<int> n_ecm(sets, 0), n_ns(sets, 0), g_ecm(sets, 0), g_ns(sets, 0), u_ns(sets, 0);
  std::vector<double> ave_llr(sets, 0.0), ave_ullr(sets, 0.0);
  const std::vector<int> uni = UniqueGenesPerSet();
  int g_all = 0;
  for (int set = 0; set < sets; ++set) g_all += static_cast<int>(prof.proteins_for_complexes[set].size());

  // The totals count every record alike, those of the all-genes selection
  // (which name no set and have no per-set row) included.
  int n_ecm_t = 0, n_ns_t = 0, g_ecm_t = 0, g_ns_t = 0, u_ns_t = 0, hq_ecm = 0, hq_pred = 0;
  for (const Group& rec : groups) {
    const size_t n = rec.proteins.size();
    if (n < 2) continue;
    const bool in_set = IsGeneSet(rec.c);
    ++n_ecm_t;
    g_ecm_t += static_cast<int>(n);
    if (in_set) {
      ++n_ecm[rec.c];
      g_ecm[rec.c] += static_cast<int>(n);
    }
    if (rec.usize > 1) {
      ++n_ns_t;
      g_ns_t += static_cast<int>(n);
      u_ns_t += rec.usize;
      if (in_set) {
        ++n_ns[rec.c];
        g_ns[rec.c] += static_cast<int>(n);
        u_ns[rec.c] += rec.usize;
      }
      if (rec.umllr >= 20.0) ++hq_ecm;
    }
    for (size_t j = 0; j < rec.pred_proteins.size(); ++j) {
      const bool greyed = n + j < rec.grey_out.size() && rec.grey_out[n + j];
      if (j < rec.pred_llratios.size() && rec.pred_llratios[j] >= 20.0 && !greyed) ++hq_pred;
    }
  }
  std::cout << "Num high qual ECMs:  " << hq_ecm << std::endl;
  std::cout << "Num high qual pred:  " << hq_pred << std::endl;

  const PairShares shares = SharesPerSet(groups, &ORU::CountParalogPairs);

  int uni_t = 0;
  double share_set_t = 0, share_ecm_t = 0, share_ep_t = 0;
  for (int set = 0; set < sets; ++set) {
    uni_t += uni[set];
    share_set_t += shares.set[set] / sets;
    share_ecm_t += shares.ecm[set] / sets;
    share_ep_t += shares.ep[set] / sets;
  }

  double ave_llr_t = 0, ave_ullr_t = 0;
  for (const Group& rec : groups) {
    const size_t n = rec.proteins.size();
    if (n < 2) continue;
    const bool in_set = IsGeneSet(rec.c);
    for (size_t i = 0; i < n && i < rec.llratios.size(); ++i) {
      if (in_set) ave_llr[rec.c] += rec.llratios[i] / g_ecm[rec.c];
      ave_llr_t += rec.llratios[i] / g_ecm_t;
      const bool greyed = i < rec.grey_out.size() && rec.grey_out[i];
      if (!greyed && rec.usize > 1) {
        if (in_set) ave_ullr[rec.c] += rec.llratios[i] / u_ns[rec.c];
        ave_ullr_t += rec.llratios[i] / u_ns_t;
      }
    }
  }

  std::vector<double> evo(sets, 0.0);
  for (int set = 0; set < sets; ++set) {
    long long module_pairs = 0;
    for (const Group& rec : groups)
      if (rec.c == set) module_pairs += Pairs(rec.proteins.size());
    evo[set] = Ratio(static_cast<double>(module_pairs),
                     static_cast<double>(Pairs(prof.proteins_for_complexes[set].size())));
  }

  std::ofstream out(output_path + "_gs_stats.txt");
  out.setf(std::ios::fixed, std::ios::floatfield);
  out.precision(4);
  out << "\t\t# Genes\t# ECMs\t# NS ECMs\t# G in ECMs\t% G in ECMs\tAve. LLR\t# G in NS ECMs\t"
         "% G in NS ECMs\t# Uni Genes\t# Uni G in ECMs\t% Uni G in ECMs\tAve. Uni LLR\t"
         "% Cpl Share-seq\t% ECM Share-seq\t% E+P Share-seq\n";
  out << "\t\t" << g_all << "\t" << n_ecm_t << "\t" << n_ns_t << "\t" << g_ecm_t << "\t"
      << Ratio(g_ecm_t, g_all) << "\t" << ave_llr_t << "\t" << g_ns_t << "\t" << Ratio(g_ns_t, g_all)
      << "\t" << uni_t << "\t" << u_ns_t << "\t" << Ratio(u_ns_t, uni_t) << "\t" << ave_ullr_t << "\t"
      << share_set_t << "\t" << share_ecm_t << "\t" << share_ep_t << "\t\n\n\n";
  out << "Gene Set ID\tGene Set Name\t# Genes\t# ECMs\t# NS ECMs\t# G in ECMs\t% G in ECMs\tEvo. Coh.\t"
         "Ave. LLR\t# G in NS ECMs\t% G in NS ECMs\t# Uni Genes\t# Uni G in ECMs\t% Uni G in ECMs\t"
         "Ave. Uni LLR\t% Cpl Share-seq\t% ECM Share-seq\t% E+P Share-seq\n";
  for (int set = 0; set < sets; ++set) {
    const int n_c = static_cast<int>(prof.proteins_for_complexes[set].size());
    Row(out) << set + 1 << prof.complexes_names[set] << n_c << n_ecm[set] << n_ns[set] << g_ecm[set]
             << Ratio(g_ecm[set], n_c) << evo[set] << ave_llr[set] << g_ns[set] << Ratio(g_ns[set], n_c)
             << uni[set] << u_ns[set] << Ratio(u_ns[set], uni[set]) << ave_ullr[set] << shares.set[set]
             << shares.ecm[set] << shares.ep[set];
    out << "\n";
  }
}

void ORU::WritePairShares(const std::vector<Group>& groups, const std::string& file,
                          const std::string& header, PairCounter count) {
  const PairShares shares = SharesPerSet(groups, count);
  std::ofstream out(file);
  out << header << "\n";
  for (int set = 0; set < NumGeneSets(); ++set) {
    Row(out) << set + 1 << prof.complexes_names[set] << prof.proteins_for_complexes[set].size()
             << shares.set[set] << shares.ecm[set] << shares.ep[set];
    out << "\n";
  }
}

void ORU::CalcPercentPFam(std::vector<Group> groups, std::string output_path) {
  WritePairShares(groups, output_path + "_pfam.txt",
                  "Gene Set ID\tGene Set Name\tGene Set Size\tGene Set pFam%\tECM pFam%\t"
                  "ECM+Prediction pFam%",
                  &ORU::CountPFamPairs);
}

void ORU::CalcPercentParalog(std::vector<Group> groups, std::string output_path) {
  WritePairShares(groups, output_path + "_paralog.txt",
                  "Gene Set ID\tGene Set Name\tGene Set Size\tGene Set Paralog%\tECM Paralog%\t"
                  "ECM+Prediction Paralog%",
                  &ORU::CountParalogPairs);
}
