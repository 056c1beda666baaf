#include "scoring/certification.hpp"

namespace talmoor_core::certification {

namespace {

struct GapWriter {
  support::JsonWriter& w;
  void operator()(const HostIneligible&) const { w.member("property", "host_ineligible"); }
  void operator()(const LifecycleEvidenceAbsent& g) const {
    w.member("property", "lifecycle_evidence_absent");
    w.member("run", g.run);
  }
  void operator()(const LifecycleOrderingBlocked& g) const {
    w.member("property", "lifecycle_ordering_blocked");
    w.member("run", g.run);
    w.member("block_violations", g.block_violations);
  }
};

}  // namespace

void write_certification_gap(support::JsonWriter& w, const CertificationGap& gap) {
  w.begin_object();
  std::visit(GapWriter{w}, gap);
  w.end_object();
}

void write_certification(support::JsonWriter& w, const Certification& c) {
  w.begin_object();
  w.member("mode", c.mode);
  w.member("certified", c.certified);
  w.member("lifecycle_warnings", c.lifecycle_warnings);
  w.key("withheld");
  w.begin_array();
  for (const CertificationGap& gap : c.withheld) write_certification_gap(w, gap);
  w.end_array();
  w.end_object();
}

}  // namespace talmoor_core::certification
