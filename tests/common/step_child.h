// A forked process that runs numbered steps on command and answers an int
// for each, for tests of locks and change detection between processes. Fork
// it before the parent opens the tables it shares, so that the child has
// handles of its own. The child ends when the parent's object goes.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace test_common {

class StepChild {
 public:
  explicit StepChild(const std::function<int(int step)>& body) {
    if (::pipe(commands_) != 0 || ::pipe(answers_) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(commands_[1]);
      ::close(answers_[0]);
      int step = 0;
      while (::read(commands_[0], &step, sizeof step) == sizeof step) {
        const int answer = body(step);
        if (::write(answers_[1], &answer, sizeof answer) != sizeof answer) break;
      }
      ::_exit(0);
    }
    ::close(commands_[0]);
    ::close(answers_[1]);
  }
  ~StepChild() {
    ::close(commands_[1]);
    ::close(answers_[0]);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  StepChild(const StepChild&) = delete;
  StepChild& operator=(const StepChild&) = delete;

  // Runs `step` in the child; -1 when the child is gone.
  int Run(int step) {
    if (!Start(step)) return -1;
    return Answer();
  }
  // Starts `step` in the child without waiting for it (then Answered and
  // Answer); false when the child is gone.
  bool Start(int step) { return ::write(commands_[1], &step, sizeof step) == sizeof step; }
  // Whether the step started last has answered, waiting up to `ms`.
  bool Answered(int ms) {
    pollfd p{answers_[0], POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
  }
  // The answer of the step started last; -1 when the child is gone.
  int Answer() {
    int answer = -1;
    if (::read(answers_[0], &answer, sizeof answer) != sizeof answer) return -1;
    return answer;
  }

 private:
  int commands_[2];
  int answers_[2];
  pid_t pid_ = -1;
};

}  // namespace test_common
