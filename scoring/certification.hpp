#pragma once
// The certification record a composite score can carry. This system's kernel
// never issues one; the shape and its JSON form are fixed so that records
// which do carry one read the same everywhere.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "support/json_writer.hpp"

namespace talmoor_core::certification {

struct HostIneligible {
  friend bool operator==(const HostIneligible&, const HostIneligible&) = default;
};
struct LifecycleEvidenceAbsent {
  std::uint64_t run = 0;
  friend bool operator==(const LifecycleEvidenceAbsent&, const LifecycleEvidenceAbsent&) = default;
};
struct LifecycleOrderingBlocked {
  std::uint64_t run = 0;
  std::uint64_t block_violations = 0;
  friend bool operator==(const LifecycleOrderingBlocked&,
                         const LifecycleOrderingBlocked&) = default;
};

// Tagged by the key "property" in JSON.
using CertificationGap =
    std::variant<HostIneligible, LifecycleEvidenceAbsent, LifecycleOrderingBlocked>;

struct Certification {
  std::string mode;
  bool certified = false;
  std::uint64_t lifecycle_warnings = 0;
  std::vector<CertificationGap> withheld;
  friend bool operator==(const Certification&, const Certification&) = default;
};

// {"property":"host_ineligible"}, {"property":"lifecycle_evidence_absent","run":n},
// {"property":"lifecycle_ordering_blocked","run":n,"block_violations":m}.
void write_certification_gap(support::JsonWriter& w, const CertificationGap& gap);
// {"mode":...,"certified":...,"lifecycle_warnings":...,"withheld":[...]}.
void write_certification(support::JsonWriter& w, const Certification& c);

}  // namespace talmoor_core::certification
