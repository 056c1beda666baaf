#include <string_view>

#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/sealed_seed.hpp"

namespace bindings {
namespace {

// A view of the caller's bytes object: the engine makes the one copy of the
// salt, which it wipes before releasing.
std::string_view salt_bytes(py::handle h) {
  if (!PyBytes_Check(h.ptr())) {
    raise_type_error("salt", std::string("must be bytes, not ") + Py_TYPE(h.ptr())->tp_name);
  }
  return std::string_view(PyBytes_AS_STRING(h.ptr()),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(h.ptr())));
}

py::object sealed_seed(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("sealed_seed", {{"salt", true}, {"slot", true}}, args, kwargs);
  std::string_view bytes = salt_bytes(a[0]);
  std::uint64_t slot = to_u64(a[1], "slot");
  auto salt = corvane::sealed_seed::SealedSalt::create(bytes);
  if (!salt.ok()) raise_coded_message(kInvalidSalt, salt.error().display());
  std::uint64_t seed = corvane::sealed_seed::sealed_seed(salt.value(), slot);
  return py::int_(seed);
}

}  // namespace

void register_sealed_seed(py::module_& m) {
  m.def("sealed_seed", &sealed_seed,
        doc_with_signature(
            "sealed_seed(salt, slot)",
            "Derive the held-out evaluation seed of `slot` from the secret `salt` (bytes).\n\n"
            "The result is always at least EVAL_SEED_BASE, so the evaluation band never "
            "overlaps a training band below it, and the same salt and slot give the same seed "
            "on every run and machine. Salts shorter than MIN_SEALED_SALT_BYTES are refused "
            "with InvalidSalt.")
            .c_str());
}

}  // namespace bindings
