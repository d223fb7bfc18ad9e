#include <sstream>
#include <string>

#include "input/file_writer.h"
#include "input/utils.h"
#include "model/oru.h"

namespace {

const char kLabelLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const int kLabelBase = 52;

// "A".."Z", "a".."z", then "AA", "AB", ... over the same 52 letters, so that
// any number of families gets a plain ASCII label.
std::string FamilyLabel(int family) {
  if (family < 0) return "";
  std::string label;
  long long rest = family;
  long long width = kLabelBase;
  while (rest >= width) {
    rest -= width;
    width *= kLabelBase;
  }
  for (long long w = width / kLabelBase; w >= 1; w /= kLabelBase) {
    label += kLabelLetters[rest / w];
    rest %= w;
  }
  return label;
}

// A TAB or line break inside a species name (a tree indented or broken over
// lines) would shift every later column of the header or split its line.
std::string HeaderName(const std::string& name) {
  std::string out;
  for (char ch : name)
    if (ch != '\t' && ch != '\r' && ch != '\n') out += ch;
  return out;
}

struct EntryMarks {
  int family = -1;
  bool greyed = false;
};

EntryMarks MarksOf(const Group& rec, size_t entry) {
  EntryMarks marks;
  if (entry < rec.pgroupid.size()) marks.family = rec.pgroupid[entry];
  if (entry < rec.grey_out.size()) marks.greyed = rec.grey_out[entry];
  return marks;
}

}  // namespace

void ORU::WriteResultRow(std::ostream& out, size_t position, const Group& rec, int protein,
                         bool predicted, size_t entry, double llr) const {
  out << position << "\t" << rec.proteins.size() << "\t" << rec.usize << "\t"
      << rec.pred_proteins.size() << "\t";
  if (rec.proteins.size() >= 2)
    out << rec.strength << "\t";
  else
    out << "0\t";
  const EntryMarks marks = MarksOf(rec, entry);
  out << prof.protein_entrez[protein] << "\t" << protein_names[protein] << "\t"
      << (predicted ? "ECM+" : "ECM") << "\t" << FamilyLabel(marks.family) << "\t"
      << (marks.greyed ? 0 : 1) << "\t";
  if (predicted)
    out << llr << "\t";
  else
    out << 0 << "\t";
  for (int s = 0; s < S; ++s) out << (XX[protein][s] ? 1 : 0) << "\t";
  out << "\n";
}

bool ORU::SaveResultsTxt(std::vector<Group>& results, std::string output_path) {
  std::ostringstream out;
  out.precision(4);
  out << "ECM ID\tNum ECM Genes\tNum Unique ECM Genes\tNum Predicted Genes\tECM Strength\t"
         "Gene Entrez\tGene Symbol\tECM/ECM+\tParalog Group\tFirst Gene in Paralog Group\tLLR\t";
  for (int s = 0; s < S; ++s) out << HeaderName(species_names[s]) << "\t";
  out << "\n";
  for (size_t k = 0; k < results.size(); ++k) {
    const Group& rec = results[k];
    const size_t members = rec.proteins.size();
    for (size_t i = 0; i < members; ++i) WriteResultRow(out, k + 1, rec, rec.proteins[i], false, i, 0);
    if (G == GG) continue;
    for (size_t j = 0; j < rec.pred_proteins.size(); ++j) {
      const double llr = j < rec.pred_llratios.size() ? rec.pred_llratios[j] : 0.0;
      WriteResultRow(out, k + 1, rec, rec.pred_proteins[j], true, members + j, llr);
    }
  }
  // Written whole beside the old table and renamed over it, so that a full
  // disk or a crash never leaves a truncated table in its place.
  return fileutils::ReplaceFile(output_path + ".txt", out.str());
}
