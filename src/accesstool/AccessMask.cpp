#include "accesstool/AccessMask.h"

#include <sys/acl.h>

std::optional<uint32_t> ParseMaskLetters(std::string_view letters)
{
    uint32_t mask = 0;
    for (char letter : letters) {
        uint32_t bits = 0;
        switch (letter) {
        case 'R': case 'r': bits = accessmask::Read; break;
        case 'W': case 'w': bits = accessmask::Write; break;
        case 'X': case 'x': bits = accessmask::Execute; break;
        case 'D': case 'd': bits = accessmask::Delete; break;
        case 'P': case 'p': bits = accessmask::ChangePermissions; break;
        case 'O': case 'o': bits = accessmask::TakeOwnership; break;
        case 'A': case 'a': bits = accessmask::All; break;
        case 'N': case 'n': bits = accessmask::Deny; break;
        default: return std::nullopt;
        }
        mask |= bits;
    }
    return mask;
}

unsigned PosixPermsOf(uint32_t mask)
{
    if (mask == accessmask::Deny)
        return 0;
    unsigned perms = 0;
    if (mask & (accessmask::Read | accessmask::All))
        perms |= ACL_READ;
    if (mask & (accessmask::Write | accessmask::All))
        perms |= ACL_WRITE;
    if (mask & (accessmask::Execute | accessmask::All))
        perms |= ACL_EXECUTE;
    return perms;
}
