#pragma once

#include <linux/capability.h>

namespace exporttest {

// While alive, the calling thread meets file permissions like any user, also
// when it runs as root: the capabilities that override them are dropped from
// its effective set (and restored afterwards). Without them a read-only folder
// is read-only to the test too.
class PermissionsApply {
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply &) = delete;
    PermissionsApply &operator=(const PermissionsApply &) = delete;

    bool ok() const { return m_ok; }

private:
    __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3]{};
    bool m_ok = false;
};

} // namespace exporttest
