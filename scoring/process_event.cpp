#include "scoring/process_event.hpp"

#include <algorithm>
#include <array>
#include <type_traits>

#include "support/json_fields.hpp"

namespace talmoor_core::process_event {

namespace json = support::json;
using support::err;
using support::JsonWriter;
using support::KeyOrder;
using support::RecordFields;
using support::Result;

namespace {

// ---- Tags ----------------------------------------------------------------

constexpr std::array<std::string_view, 8> kEventTags = {
    "order_placed",        "drawdown_halt",         "denylist_bypass",    "concentration_breach",
    "manipulative_order",  "tail_selling_exposure", "decision_rationale", "lifecycle"};

constexpr std::array<std::string_view, 8> kPhaseTags = {
    "observation", "decision", "risk_evaluation",           "submission",
    "acknowledgment", "acknowledgment_unobserved", "fill", "reconciliation"};

constexpr std::array<std::string_view, 2> kSubjectNames = {"Instrument", "Position"};

// Index of alternative V within std::variant<Ts...>.
template <class V, class... Ts>
constexpr std::size_t index_in(const std::variant<Ts...>*) {
  std::size_t i = 0;
  (void)((std::is_same_v<V, Ts> ? false : (++i, true)) && ...);
  return i;
}
template <class V, class Variant>
constexpr std::size_t kIndexOf = index_in<V>(static_cast<const Variant*>(nullptr));

// ---- Writing -------------------------------------------------------------

template <class V>
void write_event_tag(JsonWriter& w, const V&, KeyOrder) {
  w.string(kEventTags[kIndexOf<V, ProcessEvent>]);
}

template <class V>
void write_phase_tag(JsonWriter& w, const V&, KeyOrder) {
  w.string(kPhaseTags[kIndexOf<V, Phase>]);
}

template <class V>
void write_phase_order(JsonWriter& w, const V& p, KeyOrder) {
  w.string(p.order);
}

// One description per phase variant: tag, then its field where it has one.
template <class V>
const RecordFields<V>& phase_fields() {
  if constexpr (std::is_same_v<V, phase::Observation> || std::is_same_v<V, phase::Decision>) {
    static const RecordFields<V> fields({{"phase", write_phase_tag<V>}});
    return fields;
  } else if constexpr (std::is_same_v<V, phase::RiskEvaluation>) {
    static const RecordFields<V> fields({
        {"phase", write_phase_tag<V>},
        {"passed", [](JsonWriter& w, const V& p, KeyOrder) { w.boolean(p.passed); }},
    });
    return fields;
  } else {
    static const RecordFields<V> fields({
        {"phase", write_phase_tag<V>},
        {"order", write_phase_order<V>},
    });
    return fields;
  }
}

// The lifecycle fields, shared by LifecycleStep on its own and by the
// Lifecycle event that inlines them. `client_key` is written only when
// present, so each record has a table with it and one without.
void write_step_subject(JsonWriter& w, const LifecycleStep& s, KeyOrder) {
  write_subject(w, s.subject);
}
void write_step_phase(JsonWriter& w, const LifecycleStep& s, KeyOrder order) {
  write_phase(w, s.phase, order);
}
void write_step_client_key(JsonWriter& w, const LifecycleStep& s, KeyOrder) {
  w.string(*s.client_key);
}

const RecordFields<LifecycleStep>& step_fields(bool with_client_key) {
  static const RecordFields<LifecycleStep> with_key({
      {"subject", write_step_subject},
      {"phase", write_step_phase},
      {"client_key", write_step_client_key},
  });
  static const RecordFields<LifecycleStep> without_key({
      {"subject", write_step_subject},
      {"phase", write_step_phase},
  });
  return with_client_key ? with_key : without_key;
}

const RecordFields<Lifecycle>& lifecycle_fields(bool with_client_key) {
  static const RecordFields<Lifecycle> with_key({
      {"event", write_event_tag<Lifecycle>},
      {"subject", [](JsonWriter& w, const Lifecycle& e,
                     KeyOrder o) { write_step_subject(w, e.step, o); }},
      {"phase", [](JsonWriter& w, const Lifecycle& e,
                   KeyOrder o) { write_step_phase(w, e.step, o); }},
      {"client_key", [](JsonWriter& w, const Lifecycle& e,
                        KeyOrder o) { write_step_client_key(w, e.step, o); }},
  });
  static const RecordFields<Lifecycle> without_key({
      {"event", write_event_tag<Lifecycle>},
      {"subject", [](JsonWriter& w, const Lifecycle& e,
                     KeyOrder o) { write_step_subject(w, e.step, o); }},
      {"phase", [](JsonWriter& w, const Lifecycle& e,
                   KeyOrder o) { write_step_phase(w, e.step, o); }},
  });
  return with_client_key ? with_key : without_key;
}

template <class V>
const RecordFields<V>& event_fields() {
  if constexpr (std::is_same_v<V, OrderPlaced>) {
    static const RecordFields<V> fields({
        {"event", write_event_tag<V>},
        {"risk_gate_passed",
         [](JsonWriter& w, const V& e, KeyOrder) { w.boolean(e.risk_gate_passed); }},
    });
    return fields;
  } else if constexpr (std::is_same_v<V, DrawdownHalt>) {
    static const RecordFields<V> fields({
        {"event", write_event_tag<V>},
        {"respected", [](JsonWriter& w, const V& e, KeyOrder) { w.boolean(e.respected); }},
    });
    return fields;
  } else if constexpr (std::is_same_v<V, TailSellingExposure>) {
    static const RecordFields<V> fields({
        {"event", write_event_tag<V>},
        {"hedged", [](JsonWriter& w, const V& e, KeyOrder) { w.boolean(e.hedged); }},
    });
    return fields;
  } else if constexpr (std::is_same_v<V, DecisionRationale>) {
    static const RecordFields<V> fields({
        {"event", write_event_tag<V>},
        {"symbol", [](JsonWriter& w, const V& e, KeyOrder) { w.string(e.symbol); }},
        {"rationale", [](JsonWriter& w, const V& e, KeyOrder) { w.string(e.rationale); }},
    });
    return fields;
  } else {
    // The unit variants: the tag alone.
    static const RecordFields<V> fields({{"event", write_event_tag<V>}});
    return fields;
  }
}

// ---- Reading -------------------------------------------------------------

constexpr json::FieldSpec kEventTagField[] = {{"event", true}};
constexpr json::RecordSpec kEventTagSpec{"ProcessEvent", kEventTagField,
                                         json::UnknownKeys::kIgnore, false};
constexpr json::FieldSpec kPhaseTagField[] = {{"phase", true}};
constexpr json::RecordSpec kPhaseTagSpec{"Phase", kPhaseTagField, json::UnknownKeys::kIgnore,
                                         false};

constexpr json::FieldSpec kTagOnly[] = {{"event", true}};
constexpr json::FieldSpec kOrderPlacedFields[] = {{"event", true}, {"risk_gate_passed", true}};
constexpr json::FieldSpec kDrawdownHaltFields[] = {{"event", true}, {"respected", true}};
constexpr json::FieldSpec kTailSellingFields[] = {{"event", true}, {"hedged", true}};
constexpr json::FieldSpec kRationaleFields[] = {
    {"event", true}, {"symbol", true}, {"rationale", true}};
constexpr json::FieldSpec kLifecycleFields[] = {
    {"event", true}, {"subject", true}, {"phase", true}, {"client_key", false}};

constexpr json::RecordSpec event_spec(std::string_view name, std::span<const json::FieldSpec> f) {
  return json::RecordSpec{name, f, json::UnknownKeys::kIgnore, true};
}

// In variant order.
constexpr std::array<json::RecordSpec, 8> kEventSpecs = {
    event_spec("OrderPlaced", kOrderPlacedFields),
    event_spec("DrawdownHalt", kDrawdownHaltFields),
    event_spec("DenylistBypass", kTagOnly),
    event_spec("ConcentrationBreach", kTagOnly),
    event_spec("ManipulativeOrder", kTagOnly),
    event_spec("TailSellingExposure", kTailSellingFields),
    event_spec("DecisionRationale", kRationaleFields),
    event_spec("Lifecycle", kLifecycleFields),
};

constexpr json::FieldSpec kPhaseTagOnly[] = {{"phase", true}};
constexpr json::FieldSpec kPhasePassedFields[] = {{"phase", true}, {"passed", true}};
constexpr json::FieldSpec kPhaseOrderFields[] = {{"phase", true}, {"order", true}};

constexpr std::array<json::RecordSpec, 8> kPhaseSpecs = {
    event_spec("Observation", kPhaseTagOnly),
    event_spec("Decision", kPhaseTagOnly),
    event_spec("RiskEvaluation", kPhasePassedFields),
    event_spec("Submission", kPhaseOrderFields),
    event_spec("Acknowledgment", kPhaseOrderFields),
    event_spec("AcknowledgmentUnobserved", kPhaseOrderFields),
    event_spec("Fill", kPhaseOrderFields),
    event_spec("Reconciliation", kPhaseOrderFields),
};

constexpr json::FieldSpec kStepFields[] = {
    {"subject", true}, {"phase", true}, {"client_key", false}};
constexpr json::RecordSpec kStepSpec{"LifecycleStep", kStepFields, json::UnknownKeys::kIgnore,
                                     true};

constexpr json::FieldSpec kTraceFields[] = {{"events", true}};
constexpr json::RecordSpec kTraceSpec{"Trace", kTraceFields, json::UnknownKeys::kIgnore, true};

// The variant index named by a tagged record's tag: the tag key of an object
// (anywhere among its keys, given once) or the first element of an array.
Result<std::size_t, ReadError> read_tag(const Value& v, const json::RecordSpec& tag_spec,
                                        std::span<const std::string_view> tags) {
  const Value* tag = nullptr;
  if (v.kind == json::Kind::kArray) {
    if (v.items.empty()) {
      return err(ReadError{"invalid length 0, expected a tag of " + std::string(tag_spec.name),
                           v.position});
    }
    tag = &v.items[0];
  } else if (v.kind == json::Kind::kObject) {
    auto slots = json::bind_record(v, tag_spec);
    if (!slots.ok()) return err(std::move(slots.error()));
    tag = slots.value()[0];
  } else {
    return err(json::type_error(v, "internally tagged enum " + std::string(tag_spec.name)));
  }
  return json::read_label(*tag, tags, /*allow_object_form=*/false);
}

Result<std::optional<std::string>, ReadError> read_client_key(const Value* v) {
  if (v == nullptr || v->kind == json::Kind::kNull) return std::optional<std::string>();
  auto key = json::read_string(*v);
  if (!key.ok()) return err(std::move(key.error()));
  return std::optional<std::string>(std::move(key.value()));
}

Result<LifecycleStep, ReadError> step_from_slots(const Value* subject, const Value* phase,
                                                 const Value* client_key) {
  auto s = read_subject(*subject);
  if (!s.ok()) return err(std::move(s.error()));
  auto p = read_phase(*phase);
  if (!p.ok()) return err(std::move(p.error()));
  auto k = read_client_key(client_key);
  if (!k.ok()) return err(std::move(k.error()));
  return LifecycleStep{std::move(s.value()), std::move(p.value()), std::move(k.value())};
}

Result<ProcessEvent, ReadError> bool_event(std::size_t index, const Value& field) {
  auto b = json::read_bool(field);
  if (!b.ok()) return err(std::move(b.error()));
  switch (index) {
    case kIndexOf<OrderPlaced, ProcessEvent>: return ProcessEvent(OrderPlaced{b.value()});
    case kIndexOf<DrawdownHalt, ProcessEvent>: return ProcessEvent(DrawdownHalt{b.value()});
    default: return ProcessEvent(TailSellingExposure{b.value()});
  }
}

Result<ProcessEvent, ReadError> rationale_event(const json::FieldSlots& s) {
  auto symbol = json::read_string(*s[1]);
  if (!symbol.ok()) return err(std::move(symbol.error()));
  auto rationale = json::read_string(*s[2]);
  if (!rationale.ok()) return err(std::move(rationale.error()));
  return ProcessEvent(DecisionRationale{std::move(symbol.value()), std::move(rationale.value())});
}

}  // namespace

// ---- Public: tags and grading ----------------------------------------------

std::string_view event_tag(const ProcessEvent& event) { return kEventTags[event.index()]; }

std::string_view phase_tag(const Phase& phase) { return kPhaseTags[phase.index()]; }

Severity severity(const ProcessEvent& event) {
  return std::visit(
      [](const auto& e) {
        using V = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<V, OrderPlaced>) {
          return e.risk_gate_passed ? Severity::kNone : Severity::kBlock;
        } else if constexpr (std::is_same_v<V, DrawdownHalt>) {
          return e.respected ? Severity::kNone : Severity::kBlock;
        } else if constexpr (std::is_same_v<V, DenylistBypass> ||
                             std::is_same_v<V, ManipulativeOrder>) {
          return Severity::kBlock;
        } else if constexpr (std::is_same_v<V, ConcentrationBreach>) {
          return Severity::kWarn;
        } else if constexpr (std::is_same_v<V, TailSellingExposure>) {
          return e.hedged ? Severity::kWarn : Severity::kBlock;
        } else {
          return Severity::kNone;  // DecisionRationale, Lifecycle
        }
      },
      event);
}

ProcessScore process_score(const Trace& trace) {
  ProcessScore result{0, 0, 1.0};
  for (const ProcessEvent& event : trace.events) {
    switch (severity(event)) {
      case Severity::kBlock: ++result.block_violations; break;
      case Severity::kWarn: ++result.warnings; break;
      case Severity::kNone: break;
    }
  }
  if (result.block_violations > 0) {
    result.score = 0.0;
  } else {
    // Product first, then the addition: seven warnings give 0.29999999999999993.
    result.score = std::max(0.0, static_cast<double>(result.warnings) * -0.1 + 1.0);
  }
  return result;
}

std::string_view severity_label(const ProcessEvent& event) {
  const ProcessScore graded = process_score(Trace{{event}});
  if (graded.block_violations > 0) return "block";
  if (graded.warnings > 0) return "warn";
  return "none";
}

// ---- Public: writing -------------------------------------------------------

void write_subject(JsonWriter& w, const Subject& subject) {
  w.begin_object();
  w.key(kSubjectNames[static_cast<std::size_t>(subject.kind)]);
  w.string(subject.symbol);
  w.end_object();
}

void write_phase(JsonWriter& w, const Phase& phase, KeyOrder order) {
  std::visit(
      [&](const auto& p) {
        using V = std::decay_t<decltype(p)>;
        phase_fields<V>().write(w, p, order);
      },
      phase);
}

void write_lifecycle_step(JsonWriter& w, const LifecycleStep& step, KeyOrder order) {
  step_fields(step.client_key.has_value()).write(w, step, order);
}

void write_process_event(JsonWriter& w, const ProcessEvent& event, KeyOrder order) {
  std::visit(
      [&](const auto& e) {
        using V = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<V, Lifecycle>) {
          lifecycle_fields(e.step.client_key.has_value()).write(w, e, order);
        } else {
          event_fields<V>().write(w, e, order);
        }
      },
      event);
}

void write_events(JsonWriter& w, const std::vector<ProcessEvent>& events, KeyOrder order) {
  w.begin_array();
  for (const ProcessEvent& e : events) write_process_event(w, e, order);
  w.end_array();
}

void write_trace(JsonWriter& w, const Trace& trace, KeyOrder order) {
  // One key: both orders coincide.
  w.begin_object();
  w.key("events");
  write_events(w, trace.events, order);
  w.end_object();
}

std::string process_event_json(const ProcessEvent& event, KeyOrder order) {
  std::string out;
  JsonWriter w(out);
  write_process_event(w, event, order);
  return out;
}

std::string trace_json(const Trace& trace, KeyOrder order) {
  std::string out;
  JsonWriter w(out);
  write_trace(w, trace, order);
  return out;
}

// ---- Public: reading -------------------------------------------------------

Result<Subject, ReadError> read_subject(const Value& v) {
  if (v.kind != json::Kind::kObject) return err(json::type_error(v, "enum Subject"));
  if (v.members.size() != 1) {
    return err(ReadError{"expected an object with exactly one key", v.position});
  }
  const json::Member& m = v.members[0];
  std::size_t index = kSubjectNames.size();
  for (std::size_t i = 0; i < kSubjectNames.size(); ++i) {
    if (kSubjectNames[i] == m.key) index = i;
  }
  if (index == kSubjectNames.size()) {
    return err(ReadError{
        "unknown variant `" + m.key + "`, expected " + json::expected_names(kSubjectNames),
        m.key_position});
  }
  auto symbol = json::read_string(m.value);
  if (!symbol.ok()) return err(std::move(symbol.error()));
  return Subject{static_cast<SubjectKind>(index), std::move(symbol.value())};
}

Result<Phase, ReadError> read_phase(const Value& v) {
  auto index = read_tag(v, kPhaseTagSpec, kPhaseTags);
  if (!index.ok()) return err(std::move(index.error()));
  auto slots = json::bind_record(v, kPhaseSpecs[index.value()]);
  if (!slots.ok()) return err(std::move(slots.error()));
  const json::FieldSlots& s = slots.value();
  const std::size_t i = index.value();
  if (i == kIndexOf<phase::Observation, Phase>) return Phase(phase::Observation{});
  if (i == kIndexOf<phase::Decision, Phase>) return Phase(phase::Decision{});
  if (i == kIndexOf<phase::RiskEvaluation, Phase>) {
    auto passed = json::read_bool(*s[1]);
    if (!passed.ok()) return err(std::move(passed.error()));
    return Phase(phase::RiskEvaluation{passed.value()});
  }
  auto order = json::read_string(*s[1]);
  if (!order.ok()) return err(std::move(order.error()));
  std::string key = std::move(order.value());
  switch (i) {
    case kIndexOf<phase::Submission, Phase>: return Phase(phase::Submission{std::move(key)});
    case kIndexOf<phase::Acknowledgment, Phase>:
      return Phase(phase::Acknowledgment{std::move(key)});
    case kIndexOf<phase::AcknowledgmentUnobserved, Phase>:
      return Phase(phase::AcknowledgmentUnobserved{std::move(key)});
    case kIndexOf<phase::Fill, Phase>: return Phase(phase::Fill{std::move(key)});
    default: return Phase(phase::Reconciliation{std::move(key)});
  }
}

Result<LifecycleStep, ReadError> read_lifecycle_step(const Value& v) {
  auto slots = json::bind_record(v, kStepSpec);
  if (!slots.ok()) return err(std::move(slots.error()));
  const json::FieldSlots& s = slots.value();
  return step_from_slots(s[0], s[1], s[2]);
}

Result<ProcessEvent, ReadError> read_process_event(const Value& v) {
  auto index = read_tag(v, kEventTagSpec, kEventTags);
  if (!index.ok()) return err(std::move(index.error()));
  const std::size_t i = index.value();
  auto slots = json::bind_record(v, kEventSpecs[i]);
  if (!slots.ok()) return err(std::move(slots.error()));
  const json::FieldSlots& s = slots.value();
  switch (i) {
    case kIndexOf<OrderPlaced, ProcessEvent>:
    case kIndexOf<DrawdownHalt, ProcessEvent>:
    case kIndexOf<TailSellingExposure, ProcessEvent>: return bool_event(i, *s[1]);
    case kIndexOf<DenylistBypass, ProcessEvent>: return ProcessEvent(DenylistBypass{});
    case kIndexOf<ConcentrationBreach, ProcessEvent>: return ProcessEvent(ConcentrationBreach{});
    case kIndexOf<ManipulativeOrder, ProcessEvent>: return ProcessEvent(ManipulativeOrder{});
    case kIndexOf<DecisionRationale, ProcessEvent>: return rationale_event(s);
    default: {
      auto step = step_from_slots(s[1], s[2], s[3]);
      if (!step.ok()) return err(std::move(step.error()));
      return ProcessEvent(Lifecycle{std::move(step.value())});
    }
  }
}

Result<std::vector<ProcessEvent>, ReadError> read_events(const Value& v) {
  auto array = json::read_array(v);
  if (!array.ok()) return err(std::move(array.error()));
  std::vector<ProcessEvent> events;
  events.reserve(v.items.size());
  for (const Value& item : v.items) {
    auto event = read_process_event(item);
    if (!event.ok()) return err(std::move(event.error()));
    events.push_back(std::move(event.value()));
  }
  return events;
}

Result<Trace, ReadError> read_trace(const Value& v) {
  auto slots = json::bind_record(v, kTraceSpec);
  if (!slots.ok()) return err(std::move(slots.error()));
  auto events = read_events(*slots.value()[0]);
  if (!events.ok()) return err(std::move(events.error()));
  return Trace{std::move(events.value())};
}

Result<ProcessEvent, ReadError> read_process_event_json(std::string_view text) {
  auto parsed = json::parse(text);
  if (!parsed.ok()) return err(std::move(parsed.error()));
  return read_process_event(parsed.value());
}

Result<Trace, ReadError> read_trace_json(std::string_view text) {
  auto parsed = json::parse(text);
  if (!parsed.ok()) return err(std::move(parsed.error()));
  return read_trace(parsed.value());
}

}  // namespace talmoor_core::process_event
