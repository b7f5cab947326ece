#pragma once
// For a child process about to run the real program: takes away the right to set
// the computer's clock, so no test can change this machine's time whatever a
// time server answers.

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zevrin::testing {

/// Drops CAP_SYS_TIME from the bounding, inheritable and ambient sets. Returns
/// false when the capability could still be had after exec.
inline bool DropClockSetting() {
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_SYS_TIME, 0, 0);
  ::prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  constexpr unsigned kBit = 1u << CAP_SYS_TIME;  // in the first word
  data[0].inheritable &= ~kBit;
  data[0].effective &= ~kBit;
  data[0].permitted &= ~kBit;
  if (::syscall(SYS_capset, &header, data) != 0) return false;
  return ::prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) == 0 || (data[0].permitted & kBit) == 0;
}

}  // namespace zevrin::testing
