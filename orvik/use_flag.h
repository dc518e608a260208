// UseFlag: the exclusive/shared use rule of one Client object.
#pragma once

#include "pyref.h"

namespace orvik {

// The interpreter lock is held for the whole of every Client call, so two
// uses can only collide through re-entry (an __index__ that calls back into
// the same client). Such a use fails at once instead of waiting: waiting
// would deadlock on ourselves.
class UseFlag {
 public:
  UseFlag() = default;
  UseFlag(const UseFlag&) = delete;
  UseFlag& operator=(const UseFlag&) = delete;

 private:
  friend class ExclusiveUse;
  friend class SharedUse;
  static constexpr int kExclusive = -1;
  // 0: unused; kExclusive: one exclusive use; above 0: that many shared uses.
  int state_ = 0;
};

// Holds exclusive use for its lifetime. Check acquired() after construction;
// when false, a RuntimeError "Already borrowed" has been set.
class ExclusiveUse {
 public:
  explicit ExclusiveUse(UseFlag& flag) {
    if (flag.state_ != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return;
    }
    flag.state_ = UseFlag::kExclusive;
    flag_ = &flag;
  }
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;
  ~ExclusiveUse() {
    if (flag_ != nullptr) flag_->state_ = 0;
  }
  bool acquired() const { return flag_ != nullptr; }

 private:
  UseFlag* flag_ = nullptr;
};

// Holds shared use for its lifetime. Check acquired() after construction;
// when false, a RuntimeError "Already mutably borrowed" has been set.
class SharedUse {
 public:
  explicit SharedUse(UseFlag& flag) {
    if (flag.state_ == UseFlag::kExclusive) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return;
    }
    ++flag.state_;
    flag_ = &flag;
  }
  SharedUse(const SharedUse&) = delete;
  SharedUse& operator=(const SharedUse&) = delete;
  ~SharedUse() {
    if (flag_ != nullptr) --flag_->state_;
  }
  bool acquired() const { return flag_ != nullptr; }

 private:
  UseFlag* flag_ = nullptr;
};

}  // namespace orvik
