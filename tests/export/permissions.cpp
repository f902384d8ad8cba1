#include "permissions.h"

#include <initializer_list>

#include <sys/syscall.h>
#include <unistd.h>

namespace exporttest {
namespace {

bool capabilities(__user_cap_data_struct *data, bool set)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

PermissionsApply::PermissionsApply()
{
    if (!capabilities(m_saved, false))
        return;
    __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
    for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i)
        reduced[i] = m_saved[i];
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        reduced[CAP_TO_INDEX(capability)].effective &= ~CAP_TO_MASK(capability);
    m_ok = capabilities(reduced, true);
}

PermissionsApply::~PermissionsApply()
{
    if (m_ok)
        capabilities(m_saved, true);
}

} // namespace exporttest
