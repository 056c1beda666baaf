// PyOrderBook: one order book driven through JSON text. Flat agent orders
// come in, fills and ladders go out, byte-identical whichever runtime drives
// the engine.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/lob_market.hpp"
#include "evaluation/lob_orders.hpp"
#include "support/json_record.hpp"
#include "support/json_writer.hpp"

namespace bindings {
namespace {

namespace lob = corvane::lob_market;
using support::JsonWriter;
using support::KeyOrder;

struct PyOrderBook {
  lob::OrderBook book;
  std::uint64_t levels;  // depth of every ladder this object writes
};

// ---- Writing results --------------------------------------------------------------------------

void write_ladder(JsonWriter& w, const lob::LadderSnapshot& ladder) {
  lob::ladder_fields().write(w, ladder, KeyOrder::kSorted);
}

std::string step_result_json(const std::vector<lob::Fill>& fills,
                             const lob::LadderSnapshot& ladder) {
  std::string out;
  out.reserve(128 + fills.size() * 112);
  JsonWriter w(out);
  w.begin_object();
  w.key("fills");
  w.begin_array();
  for (const lob::Fill& f : fills) lob::fill_fields().write(w, f, KeyOrder::kSorted);
  w.end_array();
  w.key("ladder");
  write_ladder(w, ladder);
  w.end_object();
  return out;
}

std::string ladder_json(const lob::LadderSnapshot& ladder) {
  std::string out;
  JsonWriter w(out);
  write_ladder(w, ladder);
  return out;
}

std::string wrapped_ladder_json(const lob::LadderSnapshot& ladder) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  w.key("ladder");
  write_ladder(w, ladder);
  w.end_object();
  return out;
}

std::string sweep_cost_json(const lob::SweepCost& cost) {
  std::string out;
  JsonWriter w(out);
  lob::sweep_cost_fields().write(w, cost, KeyOrder::kDeclared);
  return out;
}

std::string uncross_json(const std::optional<lob::UncrossResult>& result) {
  if (!result) return "null";
  std::string out;
  JsonWriter w(out);
  lob::uncross_fields().write(w, *result, KeyOrder::kSorted);
  return out;
}

// ---- Methods ----------------------------------------------------------------------------------

PyOrderBook make_order_book(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("PyOrderBook", {{"tick_size", false}, {"levels", false}}, args, kwargs);
  double tick_size = a.given(0) ? to_f64(a[0], "tick_size") : 0.01;
  std::uint64_t levels = a.given(1) ? to_u64(a[1], "levels") : 10;
  return PyOrderBook{lob::OrderBook(tick_size), levels};
}

py::str step_book(PyOrderBook& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("step_book", {{"orders_json", true}}, args, kwargs);
  std::string orders_json = to_str(a[0], "orders_json");
  auto orders = lob::read_agent_orders(orders_json);
  if (!orders.ok()) raise_engine_err(orders.error().code, orders.error().message);
  std::vector<lob::Fill> fills = self.book.step(orders.value());
  return py::str(step_result_json(fills, self.book.depth_ladder(self.levels)));
}

py::str sweep_cost(const PyOrderBook& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("sweep_cost", {{"side", true}, {"qty", true}}, args, kwargs);
  std::string label = to_str(a[0], "side");
  std::uint64_t qty = to_u64(a[1], "qty");
  auto side = lob::side_from_label(label);
  if (!side.ok()) raise_engine_err(kInvalidArgument, side.error());
  return py::str(sweep_cost_json(self.book.sweep_cost(side.value(), qty)));
}

py::str uncross(const PyOrderBook& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("uncross", {}, args, kwargs);
  return py::str(uncross_json(self.book.uncross()));
}

py::str ladder(const PyOrderBook& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("ladder", {}, args, kwargs);
  return py::str(ladder_json(self.book.depth_ladder(self.levels)));
}

py::str reset_book(PyOrderBook& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("reset_book", {}, args, kwargs);
  self.book.reset();
  return py::str(wrapped_ladder_json(self.book.depth_ladder(self.levels)));
}

constexpr const char* kClassDoc =
    "A deterministic limit order book on integer price ticks, shared by many agents: "
    "price-time priority, batches applied in canonical order (stable by agent id), a depth "
    "ladder, sweep costs and a call-auction uncross. Orders and results are JSON text.";

}  // namespace

void register_order_book(py::module_& m) {
  py::class_<PyOrderBook>(
      m, "PyOrderBook",
      doc_with_signature("PyOrderBook(tick_size=0.01, levels=10)", kClassDoc).c_str())
      .def(py::init([](py::args args, py::kwargs kwargs) { return make_order_book(args, kwargs); }),
           doc_with_signature("__init__(self, tick_size=0.01, levels=10)",
                              "Creates an empty book; `levels` is the depth of every ladder.")
               .c_str())
      .def("step_book", &step_book,
           doc_with_signature(
               "step_book(self, orders_json)",
               "Applies a JSON array of flat agent orders in canonical order and returns "
               "{\"fills\": [...], \"ladder\": {...}}. A refused batch changes nothing.")
               .c_str())
      .def("sweep_cost", &sweep_cost,
           doc_with_signature("sweep_cost(self, side, qty)",
                              "The cost of filling qty as a market order would, without trading.")
               .c_str())
      .def("uncross", &uncross,
           doc_with_signature("uncross(self)",
                              "The single-price call-auction clearing of the current book, or "
                              "null.")
               .c_str())
      .def("ladder", &ladder,
           doc_with_signature("ladder(self)", "The depth ladder of the current book.").c_str())
      .def("reset_book", &reset_book,
           doc_with_signature("reset_book(self)",
                              "Empties the book (ids start again at 0) and returns "
                              "{\"ladder\": ...} of the empty book.")
               .c_str());
}

}  // namespace bindings
