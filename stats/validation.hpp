#pragma once
// The error value of the checked statistics. Its display text can reach a
// score record, so the texts are fixed.

#include <cstddef>
#include <string>

namespace talmoor_stats::validation {

class StatisticalError {
 public:
  enum class Kind {
    kNonFiniteObservation,      // index
    kInvalidParameter,          // name, requirement
    kInsufficientObservations,  // required, got
    kNonFiniteStatistic,        // name
  };

  static StatisticalError non_finite_observation(std::size_t index);
  static StatisticalError invalid_parameter(std::string name, std::string requirement);
  static StatisticalError insufficient_observations(std::size_t required, std::size_t got);
  static StatisticalError non_finite_statistic(std::string name);

  Kind kind() const { return kind_; }
  // kNonFiniteObservation: the first bad index.
  std::size_t index() const { return count_; }
  // kInsufficientObservations: how many were required and how many were given.
  std::size_t required() const { return count_; }
  std::size_t got() const { return got_; }
  // Parameter or statistic name.
  const std::string& name() const { return name_; }
  // Requirement text for kInvalidParameter.
  const std::string& requirement() const { return requirement_; }

  // "observation 3 must be finite", "n_boot must be positive",
  // "at least 2 observations are required, got 0", "Sharpe ratio is not finite".
  std::string display() const;

  bool operator==(const StatisticalError&) const = default;

 private:
  StatisticalError(Kind kind, std::size_t count, std::size_t got, std::string name,
                   std::string requirement);

  Kind kind_;
  std::size_t count_;
  std::size_t got_;
  std::string name_;
  std::string requirement_;
};

}  // namespace talmoor_stats::validation
