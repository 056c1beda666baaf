#pragma once
// One description of a record's fields writes it both ways: keys in
// declaration order (records written directly) or in ascending byte order
// (records embedded in a dynamic JSON value). Describe each record once:
//
//   inline const support::RecordFields<Pos>& pos_fields() {
//     static const support::RecordFields<Pos> f({
//         {"symbol", [](JsonWriter& w, const Pos& p, KeyOrder) { w.string(p.symbol); }},
//         {"shares", [](JsonWriter& w, const Pos& p, KeyOrder) { w.number(p.shares); }}});
//     return f;
//   }
//   pos_fields().write(w, pos, support::KeyOrder::kSorted);

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "support/json_writer.hpp"

namespace support {

enum class KeyOrder { kDeclared, kSorted };

template <class T>
class RecordFields {
 public:
  // The writer of one field's value; the context carries the key order so
  // nested records follow their parent's.
  using WriteFn = void (*)(JsonWriter&, const T&, KeyOrder);
  struct Field {
    std::string_view name;
    WriteFn write;
  };

  RecordFields(std::initializer_list<Field> fields) : declared_(fields), sorted_(fields) {
    std::stable_sort(sorted_.begin(), sorted_.end(),
                     [](const Field& a, const Field& b) { return a.name < b.name; });
  }

  void write(JsonWriter& w, const T& value, KeyOrder order) const {
    w.begin_object();
    for (const Field& f : order == KeyOrder::kSorted ? sorted_ : declared_) {
      w.key(f.name);
      f.write(w, value, order);
    }
    w.end_object();
  }

  const std::vector<Field>& declared() const { return declared_; }

 private:
  std::vector<Field> declared_;
  std::vector<Field> sorted_;
};

}  // namespace support
