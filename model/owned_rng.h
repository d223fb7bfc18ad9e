#pragma once

#include <gsl/gsl_rng.h>

// A GSL generator owned by one model. Copying clones the full generator state,
// so a copied model draws exactly what its source would have drawn next and
// stays usable after the source is gone; it converts to gsl_rng* wherever the
// GSL calls need one.
class OwnedRng {
 public:
  OwnedRng() = default;
  OwnedRng(const OwnedRng& other) : rng(other.rng ? gsl_rng_clone(other.rng) : nullptr) {}
  OwnedRng(OwnedRng&& other) noexcept : rng(other.rng) { other.rng = nullptr; }
  OwnedRng& operator=(const OwnedRng& other) {
    if (this != &other) Reset(other.rng ? gsl_rng_clone(other.rng) : nullptr);
    return *this;
  }
  OwnedRng& operator=(OwnedRng&& other) noexcept {
    if (this != &other) {
      Reset(other.rng);
      other.rng = nullptr;
    }
    return *this;
  }
  ~OwnedRng() { Reset(nullptr); }

  // Takes ownership of r, releasing the generator held before.
  void Reset(gsl_rng* r) {
    if (rng) gsl_rng_free(rng);
    rng = r;
  }
  gsl_rng* get() const { return rng; }
  operator gsl_rng*() const { return rng; }

 private:
  gsl_rng* rng = nullptr;
};
