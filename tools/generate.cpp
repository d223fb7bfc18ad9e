// kolve_gen: synthetic inputs with planted modules.
//
// Writes a random rooted binary species tree, a profile matrix, a gene-set
// file, paralog, domain and filter files, a parameters file naming them, and
// planted.txt, which lists the genes planted together. A planted module's
// genes share a gain node; each branch below it has one loss probability for
// the whole module (mostly small, a few large), every member is present at the
// gain node and loses independently along the branches, and a small
// observation error flips cells inside the gain subtree. Species outside the
// gain subtree are absent. Background genes get random gain nodes and losses.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct Options {
  uint64_t seed = 1;
  int species = 60;
  int genes = 400;
  int modules = 4;
  int module_size = 8;
  int set_size = 60;
  int holdout = 1;  // members per module left out of the gene set
  int trees = 1;
  int swaps = 2;  // branch swaps of every tree after the first
  int burnin = 600;
  int mcmc = 400;
  int tries = 5;
  int caterpillar = 0;  // non-zero: a caterpillar tree, the deepest shape there is
  std::string out = ".";
};

const double kObsError = 0.005;
const double kSmallLoss = 0.005;
const double kLargeLoss = 0.9;
// Large losses sit on a few branches above small clades, so that members share
// losses without drifting too far apart.
const int kLargeBranches = 5;

// Own uniform and index draws, so that the files depend on the seed alone and
// not on the standard library's distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  double Uniform() { return (engine_() >> 11) * 0x1.0p-53; }
  int Below(int n) { return static_cast<int>(Uniform() * n); }
  template <typename T>
  void Shuffle(std::vector<T>& v) {
    for (int i = static_cast<int>(v.size()) - 1; i > 0; --i) std::swap(v[i], v[Below(i + 1)]);
  }

 private:
  std::mt19937_64 engine_;
};

// Leaves 0..S-1 are the species; internal nodes follow and every child has a
// smaller index than its parent, the root last.
struct Tree {
  std::vector<std::array<int, 2>> kids;  // {-1, -1} for a leaf
  std::vector<double> length;            // branch above the node
  int Root() const { return static_cast<int>(kids.size()) - 1; }
  bool IsLeaf(int n) const { return kids[n][0] < 0; }
};

// The S leaves, with their numbers in ids.
Tree Leaves(int S, std::vector<int>& ids) {
  Tree t;
  for (int s = 0; s < S; ++s) {
    t.kids.push_back({-1, -1});
    ids.push_back(s);
  }
  return t;
}

void AddBranchLengths(Tree& t, Random& rnd) {
  for (size_t n = 0; n < t.kids.size(); ++n) t.length.push_back(0.05 + 0.45 * rnd.Uniform());
}

Tree RandomTree(int S, Random& rnd) {
  std::vector<int> pool;
  Tree t = Leaves(S, pool);
  while (pool.size() > 1) {
    int a = rnd.Below(pool.size());
    int na = pool[a];
    pool.erase(pool.begin() + a);
    int b = rnd.Below(pool.size());
    int nb = pool[b];
    pool[b] = static_cast<int>(t.kids.size());
    t.kids.push_back({na, nb});
  }
  AddBranchLengths(t, rnd);
  return t;
}

// Species joined one at a time, in random order, onto one growing clade.
Tree CaterpillarTree(int S, Random& rnd) {
  std::vector<int> order;
  Tree t = Leaves(S, order);
  rnd.Shuffle(order);
  int clade = order[0];
  for (int i = 1; i < S; ++i) {
    t.kids.push_back({clade, order[i]});
    clade = static_cast<int>(t.kids.size()) - 1;
  }
  AddBranchLengths(t, rnd);
  return t;
}

std::vector<char> Subtree(const Tree& t, int gain) {
  std::vector<char> in(t.kids.size(), 0);
  in[gain] = 1;
  for (int n = gain; n >= 0; --n)
    if (in[n] && !t.IsLeaf(n)) in[t.kids[n][0]] = in[t.kids[n][1]] = 1;
  return in;
}

int LeafCount(const Tree& t, int n) {
  return t.IsLeaf(n) ? 1 : LeafCount(t, t.kids[n][0]) + LeafCount(t, t.kids[n][1]);
}

// Presence per species: present at the gain node, independent losses with
// probability q[child] on each branch below it, no regain, observation error
// inside the gain subtree.
std::vector<char> Evolve(const Tree& t, int S, int gain, const std::vector<double>& q,
                         Random& rnd) {
  std::vector<char> state(t.kids.size(), 0);
  state[gain] = 1;
  for (int n = gain; n >= S; --n)
    if (state[n])
      for (int c : t.kids[n]) state[c] = rnd.Uniform() >= q[c];
  std::vector<char> in = Subtree(t, gain);
  std::vector<char> row(S, 0);
  for (int s = 0; s < S; ++s)
    if (in[s]) row[s] = (rnd.Uniform() < kObsError) ? !state[s] : state[s];
  return row;
}

// One nearest-neighbour interchange: a child of v trades places with v's
// sibling.
void SwapBranch(Tree& t, Random& rnd) {
  std::vector<int> parent(t.kids.size(), -1);
  for (size_t n = 0; n < t.kids.size(); ++n)
    if (!t.IsLeaf(n)) parent[t.kids[n][0]] = parent[t.kids[n][1]] = static_cast<int>(n);
  std::vector<int> candidates;
  for (int n = 0; n < t.Root(); ++n)
    if (!t.IsLeaf(n)) candidates.push_back(n);
  if (candidates.empty()) return;
  int v = candidates[rnd.Below(candidates.size())];
  int p = parent[v];
  int vs = t.kids[p][0] == v ? 1 : 0;
  int vk = rnd.Below(2);
  std::swap(t.kids[p][vs], t.kids[v][vk]);
}

std::string SpeciesName(int s) {
  char buf[16];
  snprintf(buf, sizeof buf, "sp%03d", s + 1);
  return buf;
}

std::string Newick(const Tree& t, int n) {
  char len[32];
  snprintf(len, sizeof len, ":%.4f", t.length[n]);
  if (t.IsLeaf(n)) return SpeciesName(n) + len;
  std::string inner = "(" + Newick(t, t.kids[n][0]) + "," + Newick(t, t.kids[n][1]) + ")";
  return n == t.Root() ? inner + ";" : inner + len;
}

struct Gene {
  std::string id, symbol;
  std::vector<char> row;
  int module = -1;  // planted module, -1 for background
  bool in_set = false;
};

std::vector<Gene> MakeGenes(const Options& o, const Tree& t, Random& rnd) {
  const int S = o.species;
  std::vector<Gene> genes(o.genes);
  for (int g = 0; g < o.genes; ++g) {
    genes[g].id = std::to_string(100001 + g);
    char sym[16];
    snprintf(sym, sizeof sym, "G%05d", g + 1);
    genes[g].symbol = sym;
  }
  std::vector<int> rows(o.genes);
  for (int g = 0; g < o.genes; ++g) rows[g] = g;
  rnd.Shuffle(rows);

  std::vector<int> gains;
  for (int n = S; n <= t.Root(); ++n) {
    int leaves = LeafCount(t, n);
    if (leaves >= std::max(6, S / 4) && leaves <= 3 * S / 4) gains.push_back(n);
  }
  if (gains.empty()) gains.push_back(t.Root());
  rnd.Shuffle(gains);

  size_t next = 0;
  for (int m = 0; m < o.modules && next + o.module_size <= rows.size(); ++m) {
    int gain = gains[m % gains.size()];
    std::vector<double> q(t.kids.size(), kSmallLoss);
    std::vector<char> in = Subtree(t, gain);
    std::vector<int> below;
    const int small_clade = std::max(2, LeafCount(t, gain) / 4);
    for (int n = 0; n < gain; ++n)
      if (in[n] && LeafCount(t, n) <= small_clade) below.push_back(n);
    rnd.Shuffle(below);
    for (int i = 0; i < kLargeBranches && i < static_cast<int>(below.size()); ++i)
      q[below[i]] = kLargeLoss;
    for (int k = 0; k < o.module_size; ++k) {
      Gene& gene = genes[rows[next++]];
      gene.module = m;
      gene.in_set = k >= o.holdout;
      gene.row = Evolve(t, S, gain, q, rnd);
    }
  }
  std::vector<int> background(rows.begin() + next, rows.end());
  for (int g : background) {
    std::vector<double> q(t.kids.size());
    for (double& x : q) x = 0.4 * rnd.Uniform();
    genes[g].row = Evolve(t, S, rnd.Below(t.kids.size()), q, rnd);
  }
  int in_set = 0;
  for (const Gene& gene : genes) in_set += gene.in_set;
  for (size_t i = 0; i < background.size() && in_set < o.set_size; ++i, ++in_set)
    genes[background[i]].in_set = true;
  return genes;
}

void WriteProfile(const std::string& path, const std::vector<Gene>& genes, int S, Random& rnd) {
  // Columns in an order other than the tree's leaf order.
  std::vector<int> order(S);
  for (int s = 0; s < S; ++s) order[s] = s;
  rnd.Shuffle(order);
  if (S > 1 && order[0] == 0 && order[1] == 1) std::swap(order[0], order[1]);
  std::ofstream out(path);
  out << "ENTREZ\tSYMBOL";
  for (int s : order) out << "\t" << SpeciesName(s);
  out << "\n";
  for (const Gene& gene : genes) {
    out << gene.id << "\t" << gene.symbol;
    for (int s : order) out << "\t" << static_cast<int>(gene.row[s]);
    out << "\n";
  }
}

void WriteAnnotations(const Options& o, const std::vector<Gene>& genes, Random& rnd) {
  const std::string dir = o.out + "/";
  std::ofstream sets(dir + "genesets.txt");
  sets << "GENE\tSET\n";
  for (const Gene& gene : genes)
    if (gene.in_set) sets << gene.id << "\tSET1\n";

  std::ofstream planted(dir + "planted.txt");
  planted << "MODULE\tENTREZ\tSYMBOL\tIN_SET\n";
  std::map<int, std::vector<const Gene*>> modules;
  for (const Gene& gene : genes)
    if (gene.module >= 0) modules[gene.module].push_back(&gene);
  for (auto& [m, members] : modules)
    for (const Gene* gene : members)
      planted << m + 1 << "\t" << gene->id << "\t" << gene->symbol << "\t" << gene->in_set << "\n";

  std::ofstream paralogs(dir + "paralogs.txt");
  for (auto& [m, members] : modules)
    if (members.size() >= 2) paralogs << members[0]->id << " " << members[1]->id << "\n";
  for (int i = 0; i < o.genes / 50; ++i)
    paralogs << genes[rnd.Below(o.genes)].id << " " << genes[rnd.Below(o.genes)].id << "\n";

  std::ofstream domains(dir + "domains.txt");
  domains << "GENE\tDOMAIN\n";
  for (const Gene& gene : genes) {
    if (gene.module >= 0) domains << gene.id << "\tPF" << 100 + gene.module << "\n";
    if (rnd.Uniform() < 0.3) domains << gene.id << "\tPF" << 200 + rnd.Below(20) << "\n";
  }

  std::ofstream filters(dir + "filters.txt");
  for (int g = 0; g < std::min(5, o.genes); ++g)
    filters << genes[g].id << " " << genes[g].symbol << "\n";

  std::ofstream params(dir + "params.txt");
  params << "PROFILE_FILE prof.txt\nPHYTREE_FILE tree.nwk\nGENESET_FILE genesets.txt\n"
         << "PARALOG_FILE paralogs.txt\nPFAMDOM_FILE domains.txt\nFILTER_FILE filters.txt\n"
         << "RESULT_PREFIX results\nSEED " << o.seed % 1000000 << "\nBURNIN " << o.burnin
         << "\nMCMC " << o.mcmc << "\nTRIES " << o.tries << "\n";
}

void Usage() {
  std::cerr << "usage: kolve_gen [--seed N] [--species S] [--genes G] [--modules M]\n"
               "                 [--module-size K] [--set-size Z] [--holdout H] [--trees T]\n"
               "                 [--swaps W] [--burnin B] [--mcmc M] [--tries R] [--caterpillar 0|1]\n"
               "                 [--out DIR]\n";
  exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  std::map<std::string, int*> ints = {
      {"--species", &o.species}, {"--genes", &o.genes},         {"--modules", &o.modules},
      {"--module-size", &o.module_size}, {"--set-size", &o.set_size}, {"--holdout", &o.holdout},
      {"--trees", &o.trees},     {"--swaps", &o.swaps},         {"--burnin", &o.burnin},
      {"--mcmc", &o.mcmc},       {"--tries", &o.tries},         {"--caterpillar", &o.caterpillar}};
  for (int i = 1; i < argc; i += 2) {
    std::string key = argv[i];
    if (i + 1 >= argc) Usage();
    if (key == "--seed")
      o.seed = std::strtoull(argv[i + 1], nullptr, 10);
    else if (key == "--out")
      o.out = argv[i + 1];
    else if (ints.count(key))
      *ints[key] = std::atoi(argv[i + 1]);
    else
      Usage();
  }
  if (o.species < 2 || o.genes < 1 || o.trees < 1 || o.module_size < 0 || o.modules < 0) Usage();
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = ParseOptions(argc, argv);
  std::filesystem::create_directories(o.out);
  Random rnd(o.seed);
  Tree tree = o.caterpillar ? CaterpillarTree(o.species, rnd) : RandomTree(o.species, rnd);
  std::vector<Gene> genes = MakeGenes(o, tree, rnd);
  WriteAnnotations(o, genes, rnd);
  if (o.trees == 1) {
    std::ofstream(o.out + "/tree.nwk") << Newick(tree, tree.Root()) << "\n";
    WriteProfile(o.out + "/prof.txt", genes, o.species, rnd);
    return 0;
  }
  for (int i = 0; i < o.trees; ++i) {
    Tree variant = tree;
    for (int w = 0; i > 0 && w < o.swaps; ++w) SwapBranch(variant, rnd);
    const std::string suffix = "_" + std::to_string(i);
    std::ofstream(o.out + "/tree" + suffix + ".nwk") << Newick(variant, variant.Root()) << "\n";
    WriteProfile(o.out + "/prof" + suffix + ".txt", genes, o.species, rnd);
  }
  return 0;
}
