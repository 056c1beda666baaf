"""Agents and the baseline strategies.

An agent is any object with ``decide(observation: dict) -> dict``: it receives
one observation (the parsed observation JSON: ``date``, ``cash``, ``symbols``
with each instrument's ``close_history``, and ``portfolio``) and returns one
decision of the decision contract, e.g.
``{"orders": [{"symbol": "SYM00", "action": "buy", "target_weight": 0.25}]}``.

The runner builds one agent object per evaluation seed, by calling the agent
class (or factory) with no arguments, so an agent may keep state across the
steps of its episode. Every baseline here is deterministic.
"""

from __future__ import annotations

from typing import Protocol


class Agent(Protocol):
    def decide(self, observation: dict) -> dict: ...


def _order(symbol: str, weight: float, rationale: str = "") -> dict:
    action = "buy" if weight > 0 else ("sell" if weight < 0 else "close")
    return {"symbol": symbol, "action": action, "target_weight": weight, "rationale": rationale}


def _holdings(observation: dict) -> dict:
    return {p["symbol"]: p["shares"] for p in observation["portfolio"]}


def _rebalance(observation: dict, targets: dict, rationale: str) -> dict:
    """Orders only where the wanted exposure changes sign or opens/closes."""
    held = _holdings(observation)
    orders = []
    for symbol, weight in targets.items():
        invested = held.get(symbol, 0.0) != 0.0
        if (weight != 0.0) != invested:
            orders.append(_order(symbol, weight, rationale))
    return {"orders": orders}


class HoldCash:
    """Never trades: the reference every other agent is compared with."""

    def decide(self, observation: dict) -> dict:
        return {"orders": [], "reasoning": "stay in cash"}


class EqualWeight:
    """Buy and hold: an equal weight in every instrument, bought once."""

    def decide(self, observation: dict) -> dict:
        symbols = [s["symbol"] for s in observation["symbols"]]
        if not symbols or any(_holdings(observation).values()):
            return {"orders": []}
        weight = 1.0 / len(symbols)
        return {"orders": [_order(s, weight, "equal weight") for s in symbols]}


def _long_where(observation: dict, wanted, rationale: str) -> dict:
    """Equal weight in the instruments whose visible closes satisfy `wanted`."""
    snapshots = observation["symbols"]
    weight = 1.0 / max(len(snapshots), 1)
    targets = {}
    for s in snapshots:
        closes = s["close_history"]
        targets[s["symbol"]] = weight if len(closes) >= 2 and wanted(closes) else 0.0
    return _rebalance(observation, targets, rationale)


class Momentum:
    """Long the instruments whose closes rose over the visible history."""

    def decide(self, observation: dict) -> dict:
        return _long_where(observation, lambda c: c[-1] > c[0], "trend")


class MeanReversion:
    """Long the instruments trading below the mean of their visible history."""

    def decide(self, observation: dict) -> dict:
        return _long_where(observation, lambda c: c[-1] < sum(c) / len(c), "revert to mean")


BASELINES = {cls.__name__: cls for cls in (HoldCash, EqualWeight, Momentum, MeanReversion)}

__all__ = ["Agent", "HoldCash", "EqualWeight", "Momentum", "MeanReversion", "BASELINES"]
