#pragma once
// For a test that starts the real desktop program: what the forked child does
// before exec, so that the program can neither set this machine's clock nor reach
// any time server but none at all.

#include <linux/capability.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zevrin::testing {

/// Takes CAP_SYS_TIME out of this process for good: out of its bounding set (so no
/// exec can give it back, not even to root), out of its own sets, and, with
/// no_new_privs, out of reach of file capabilities. Returns false when a program
/// started from here could still hold it.
inline bool DropClockRights() {
  ::prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);  // needs CAP_SETPCAP; checked below
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned bit = 1u << CAP_SYS_TIME;  // in the first of the two words
  data[0].effective &= ~bit;
  data[0].permitted &= ~bit;
  data[0].inheritable &= ~bit;
  if (::syscall(SYS_capset, &header, data) != 0) return false;
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  // Without it in the bounding set nothing can grant it; with it there, only a
  // process that is not root, holds none and gains none at exec is safe.
  if (::prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) == 0) return true;
  return ::geteuid() != 0 && ::getuid() != 0;
}

/// Moves this process into a network of its own with no interface up, where no
/// address, 127.0.0.1 included, answers. Root needs no user namespace for it.
inline bool LeaveTheNetwork() {
  if (::unshare(CLONE_NEWNET) == 0) return true;
  return ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0;
}

}  // namespace zevrin::testing
