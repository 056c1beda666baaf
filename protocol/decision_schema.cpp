#include "protocol/decision.hpp"

namespace talmoor_protocol {

namespace {

// Stored pretty-printed: model adapters hand this text to constrained
// decoders as it is, so every byte (two-space indentation, inline arrays,
// final line feed) is part of the contract.
constexpr std::string_view kDecisionSchema = R"json({
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "https://corvane.dev/contract/v1/decision.schema.json",
  "title": "Decision",
  "description": "What an agent returns at one decision step: per-instrument orders plus an optional free-text rationale. Corvane Agent Interface v1.0.",
  "type": "object",
  "required": ["orders"],
  "additionalProperties": false,
  "properties": {
    "orders": {
      "type": "array",
      "description": "Per-instrument instructions. May be empty (a hold).",
      "items": { "$ref": "#/$defs/Order" }
    },
    "reasoning": {
      "type": "string",
      "description": "Free-text rationale captured into the trajectory. Optional; defaults to empty."
    },
    "cost": {
      "$ref": "#/$defs/DecisionCost",
      "description": "Self-reported compute spend for producing this decision. Optional; omitted entirely when not reported. The scoring kernel accumulates it into the run cost that drives the cost-normalized leaderboard columns."
    }
  },
  "$defs": {
    "DecisionCost": {
      "type": "object",
      "description": "Self-reported spend for one decision. Every field defaults to zero, so a partial report still validates.",
      "additionalProperties": false,
      "properties": {
        "cost_usd": {
          "type": "number",
          "description": "Dollar cost of the compute spent on this decision. The preferred unit."
        },
        "tokens_in": {
          "type": "integer",
          "minimum": 0,
          "description": "Prompt/input tokens consumed."
        },
        "tokens_out": {
          "type": "integer",
          "minimum": 0,
          "description": "Completion/output tokens produced."
        },
        "reasoning_tokens": {
          "type": "integer",
          "minimum": 0,
          "description": "Reasoning tokens, surfaced separately. Providers typically bill these inside tokens_out, so they are not re-added to the token total."
        }
      }
    },
    "Order": {
      "type": "object",
      "required": ["symbol", "action", "target_weight"],
      "additionalProperties": false,
      "properties": {
        "symbol": { "type": "string" },
        "action": {
          "description": "Discrete action label (sizing is carried by target_weight).",
          "enum": ["buy", "sell", "hold", "close"]
        },
        "target_weight": {
          "type": "number",
          "description": "Target portfolio weight for this symbol, signed for shorts."
        },
        "confidence": {
          "type": "number",
          "description": "Stated conviction in [0, 1], scored for calibration. Optional; defaults to 0.5."
        },
        "rationale": {
          "type": "string",
          "description": "Optional one-line rationale for this order. Defaults to empty."
        }
      }
    }
  }
}
)json";

}  // namespace

std::string_view decision_schema_json() { return kDecisionSchema; }

}  // namespace talmoor_protocol
