#pragma once

namespace platform {

// One replaceable service: the program uses the real implementation, a test
// installs its own for the length of a scope. A program may install another
// real implementation at its start (the windows' message boxes, say). Not
// thread-safe by design: services are swapped only while no worker runs.
template <class Service>
class Seam {
 public:
  explicit Seam(Service& real) : real_(&real) {}
  Service& Current() const { return override_ ? *override_ : *real_; }
  void Override(Service* replacement) { override_ = replacement; }
  void InstallReal(Service& real) { real_ = &real; }

 private:
  Service* real_;
  Service* override_ = nullptr;
};

// Installs a replacement for a seam until the end of the scope.
template <class Service>
class ScopedSeamOverride {
 public:
  ScopedSeamOverride(Seam<Service>& seam, Service& replacement) : seam_(seam) {
    seam_.Override(&replacement);
  }
  ~ScopedSeamOverride() { seam_.Override(nullptr); }
  ScopedSeamOverride(const ScopedSeamOverride&) = delete;
  ScopedSeamOverride& operator=(const ScopedSeamOverride&) = delete;

 private:
  Seam<Service>& seam_;
};

}  // namespace platform
