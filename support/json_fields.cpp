#include "support/json_fields.hpp"

namespace support::json {

std::string expected_names(std::span<const std::string_view> names) {
  auto tick = [](std::string_view n) {
    std::string t;
    t.reserve(n.size() + 2);
    t += '`';
    t += n;
    t += '`';
    return t;
  };
  if (names.empty()) return "nothing";
  if (names.size() == 1) return tick(names[0]);
  if (names.size() == 2) return tick(names[0]) + " or " + tick(names[1]);
  std::string out = "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) out += ", ";
    out += tick(names[i]);
  }
  return out;
}

ReadError type_error(const Value& v, std::string_view expected) {
  return ReadError{"invalid type: " + describe(v) + ", expected " + std::string(expected), v.position};
}

namespace {

std::vector<std::string_view> field_names(const RecordSpec& spec) {
  std::vector<std::string_view> names;
  names.reserve(spec.fields.size());
  for (const FieldSpec& f : spec.fields) names.push_back(f.name);
  return names;
}

std::string struct_expectation(const RecordSpec& spec) {
  return "struct " + std::string(spec.name) + " with " + std::to_string(spec.fields.size()) +
         " elements";
}

// Where "missing field" is reported: the closing bracket of the record.
Position closing_position(const Value& v) {
  Position p = v.end;
  if (p.column > 1) --p.column;
  return p;
}

Result<FieldSlots, ReadError> bind_object(const Value& v, const RecordSpec& spec) {
  FieldSlots slots(spec.fields.size(), nullptr);
  for (const Member& m : v.members) {
    std::size_t index = spec.fields.size();
    for (std::size_t i = 0; i < spec.fields.size(); ++i) {
      if (spec.fields[i].name == m.key) {
        index = i;
        break;
      }
    }
    if (index == spec.fields.size()) {
      if (spec.unknown == UnknownKeys::kIgnore) continue;
      auto names = field_names(spec);
      return err(ReadError{"unknown field `" + m.key + "`, expected " + expected_names(names),
                           m.key_position});
    }
    if (slots[index] != nullptr) {
      return err(ReadError{"duplicate field `" + m.key + "`", m.key_position});
    }
    slots[index] = &m.value;
  }
  for (std::size_t i = 0; i < spec.fields.size(); ++i) {
    if (spec.fields[i].required && slots[i] == nullptr) {
      return err(ReadError{"missing field `" + std::string(spec.fields[i].name) + "`",
                           closing_position(v)});
    }
  }
  return slots;
}

Result<FieldSlots, ReadError> bind_array(const Value& v, const RecordSpec& spec) {
  if (v.items.size() > spec.fields.size()) {
    return err(ReadError{"invalid length " + std::to_string(v.items.size()) + ", expected " +
                             struct_expectation(spec),
                         v.items[spec.fields.size()].position});
  }
  FieldSlots slots(spec.fields.size(), nullptr);
  for (std::size_t i = 0; i < v.items.size(); ++i) slots[i] = &v.items[i];
  for (std::size_t i = v.items.size(); i < spec.fields.size(); ++i) {
    if (spec.fields[i].required) {
      return err(ReadError{"invalid length " + std::to_string(v.items.size()) + ", expected " +
                               struct_expectation(spec),
                           closing_position(v)});
    }
  }
  return slots;
}

}  // namespace

Result<FieldSlots, ReadError> bind_record(const Value& v, const RecordSpec& spec) {
  if (v.kind == Kind::kObject) return bind_object(v, spec);
  if (v.kind == Kind::kArray && spec.allow_array) return bind_array(v, spec);
  return err(type_error(v, "struct " + std::string(spec.name)));
}

Result<double, ReadError> read_f64(const Value& v) {
  if (v.is_number()) return v.number;
  return err(type_error(v, "f64"));
}

Result<std::uint64_t, ReadError> read_u64(const Value& v) {
  if (v.kind == Kind::kInteger && !v.negative) return v.uint_value;
  if (v.kind == Kind::kInteger) {
    return err(ReadError{"invalid value: " + describe(v) + ", expected u64", v.position});
  }
  return err(type_error(v, "u64"));
}

Result<std::int64_t, ReadError> read_i64(const Value& v) {
  if (v.kind == Kind::kInteger && v.negative) return v.int_value;
  if (v.kind == Kind::kInteger) {
    if (v.uint_value <= static_cast<std::uint64_t>(INT64_MAX)) {
      return static_cast<std::int64_t>(v.uint_value);
    }
    return err(ReadError{"invalid value: " + describe(v) + ", expected i64", v.position});
  }
  return err(type_error(v, "i64"));
}

Result<bool, ReadError> read_bool(const Value& v) {
  if (v.kind == Kind::kBool) return v.boolean;
  return err(type_error(v, "a boolean"));
}

Result<std::string, ReadError> read_string(const Value& v) {
  if (v.kind == Kind::kString) return v.text;
  return err(type_error(v, "a string"));
}

Result<const Value*, ReadError> read_array(const Value& v) {
  if (v.kind == Kind::kArray) return &v;
  return err(type_error(v, "a sequence"));
}

Result<std::size_t, ReadError> read_label(const Value& v, std::span<const std::string_view> labels,
                                          bool allow_object_form) {
  const Value* label = &v;
  if (allow_object_form && v.kind == Kind::kObject) {
    if (v.members.size() != 1) {
      return err(ReadError{"expected an object with exactly one key", v.position});
    }
    label = nullptr;  // checked below with the key's text
    const Member& m = v.members[0];
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (labels[i] == m.key) {
        if (m.value.kind != Kind::kNull) return err(type_error(m.value, "unit variant"));
        return i;
      }
    }
    return err(ReadError{"unknown variant `" + m.key + "`, expected " + expected_names(labels),
                         m.key_position});
  }
  if (label->kind != Kind::kString) return err(type_error(*label, "a label"));
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] == label->text) return i;
  }
  return err(ReadError{"unknown variant `" + label->text + "`, expected " + expected_names(labels),
                       label->position});
}

}  // namespace support::json
