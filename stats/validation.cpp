#include "stats/validation.hpp"

#include <utility>

namespace talmoor_stats::validation {

StatisticalError::StatisticalError(Kind kind, std::size_t count, std::size_t got,
                                   std::string name, std::string requirement)
    : kind_(kind),
      count_(count),
      got_(got),
      name_(std::move(name)),
      requirement_(std::move(requirement)) {}

StatisticalError StatisticalError::non_finite_observation(std::size_t index) {
  return StatisticalError(Kind::kNonFiniteObservation, index, 0, {}, {});
}

StatisticalError StatisticalError::invalid_parameter(std::string name, std::string requirement) {
  return StatisticalError(Kind::kInvalidParameter, 0, 0, std::move(name), std::move(requirement));
}

StatisticalError StatisticalError::insufficient_observations(std::size_t required,
                                                             std::size_t got) {
  return StatisticalError(Kind::kInsufficientObservations, required, got, {}, {});
}

StatisticalError StatisticalError::non_finite_statistic(std::string name) {
  return StatisticalError(Kind::kNonFiniteStatistic, 0, 0, std::move(name), {});
}

std::string StatisticalError::display() const {
  switch (kind_) {
    case Kind::kNonFiniteObservation:
      return "observation " + std::to_string(count_) + " must be finite";
    case Kind::kInvalidParameter:
      return name_ + " " + requirement_;
    case Kind::kInsufficientObservations:
      return "at least " + std::to_string(count_) + " observations are required, got " +
             std::to_string(got_);
    case Kind::kNonFiniteStatistic:
      return name_ + " is not finite";
  }
  return {};
}

}  // namespace talmoor_stats::validation
